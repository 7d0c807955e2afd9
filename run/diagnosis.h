#pragma once

#include "link/reply.h"
#include "run/session.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace tqb9 {

// What the system says about a serial device, for a diagnostic a user can act on.
struct DeviceFacts {
    bool exists = false;
    bool accessible = false;      // this process may read and write it
    QString group;                // the group that owns it, "dialout"
    bool inGroupDatabase = false; // the account is in that group, but this session not yet
    QString holder;               // other processes that have it open, "ModemManager (pid 812)"
    QString name; // what the system calls it, "USB Serial Port (COM23)"; empty if nothing
};

// diagnosis_unix.cpp on Linux and macOS, diagnosis_win.cpp on Windows.
DeviceFacts probeDevice(const QString& device);

// How a run failed, as the front end saw it.
struct Failure {
    Outcome outcome = Outcome::Error;
    Step step = Step::Query;
    int port = 1;   // the COM number the run used
    QString device; // what it maps to; empty when nothing does
    // The device was given itself, not as a COM number: it is named alone.
    bool deviceGiven = false;
    QSerialPort::SerialPortError errorKind = QSerialPort::NoError;
    QString error; // the port's own words
    // The last exchange of the failed step, if there was one.
    bool exchanged = false;
    qsizetype sent = 0;
    qsizetype received = 0;
    std::int16_t code = reply::None;
    // Where the write stopped: the first address of the block, the block's number and the total.
    std::optional<long> blockAddress;
    int blocksDone = 0;
    int blocksTotal = 0;
    std::chrono::milliseconds interval{5000};
};

// Why a run ended as it did, as codes with their data; each front end words it (cli/advice.cpp
// for a terminal, ui/wording.cpp for a window). The step and how far the write got are the
// report's own.
struct Finding {
    enum class Reason {
        None,             // completed
        Stopped,          // the report says who stopped it
        TestImage,        // a test image that was not allowed: nothing was sent
        PortLeadsNowhere, // the COM number leads to no serial port
        NoSuchDevice,
        PermissionDenied, // facts.group and facts.inGroupDatabase say more
        PortBusy,         // another program holds it; facts.holder may name it
        PortFailed,       // it stopped working during the step: unplugged, or the adapter reset
        PortError,        // anything else the system said, in systemError
        Silent,           // nothing came back, not even the echo of what was sent
        ShortEcho,        // only received of the sent bytes came back
        NoAnswer,         // the echo came back, no answer within window
        RegionRefused,    // the radio answered "RE"
        WrongAnswer,      // the radio answered code, not the step's answer
    };
    Reason reason = Reason::None;
    int comPort = 1;          // the COM number the run used
    QString device;           // what it opened, or tried to; empty when the number leads nowhere
    bool deviceGiven = false; // given itself, not as a COM number: named alone
    DeviceFacts facts;        // what the system says about device
    QString systemError;      // the port's own words
    qsizetype sent = 0;
    qsizetype received = 0;
    std::int16_t code = reply::None;
    std::chrono::milliseconds window{5000};
    // The failed or stopped step came after the radio entered flash mode, where it may be left.
    bool mayBeInFlashMode = false;
    // The model query went unanswered on a device whose last run in this process was stopped
    // after the radio may have entered flash mode, where it answers no query until switched
    // off and on.
    bool afterStopInFlashMode = false;
};

// What the failure and the system's facts come to.
Finding classify(const Failure& failure, const DeviceFacts& facts);

namespace platform {
// The other processes that have the device open, for the busy message; empty when unknown
// (diagnosis_unix.cpp with /proc on Linux, nothing elsewhere).
QString findHolders(const QString& device);
} // namespace platform

} // namespace tqb9
