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

// Sentences for standard error that say why the run failed and what to do about it.
QStringList diagnose(const Failure& failure, const DeviceFacts& facts);

// The parts of the advice that name a platform's own tools, one file per platform
// (diagnosis_linux.cpp, diagnosis_mac.cpp, diagnosis_win.cpp).
namespace platform {
// What to do when the device exists but this account may not open it.
QStringList permissionAdvice(const QString& device, const DeviceFacts& facts);
// What to do when another program has the port open.
QString busyAdvice();
// The other processes that have the device open, for the busy message; empty when unknown.
QString findHolders(const QString& device);
} // namespace platform

} // namespace tqb9
