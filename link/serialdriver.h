#pragma once

#include <QSerialPort>
#include <QString>
#include <utility>

namespace tqb9 {

// What QSerialPort::handle() gives: a descriptor (int) on Unix, a HANDLE (void*) on Windows.
// QSerialPort keeps the name of that type private.
using SerialHandle = decltype(std::declval<const QSerialPort&>().handle());

// A USB serial adapter's driver may gather received bytes before it passes them on (an FTDI
// chip's latency timer is 16 ms by default), which adds up to seconds over a run of 500 short
// waits. Where the driver offers it, the port asks for its bytes at once while the program has
// it open, and gives the driver its own setting back when it closes.
struct LowLatency {
    bool took = false;    // the driver delivers at once now (or already did)
    bool changed = false; // this program turned it on, so closing turns it off again
    QString note;         // what happened, for a trace
};

// handle is the open port's (QSerialPort::handle()).
LowLatency requestLowLatency(SerialHandle handle);
void restoreLatency(SerialHandle handle, const LowLatency& requested);

// Received bytes the driver holds that nobody has read yet, or -1 where the system does not say.
qint64 driverInputCount(SerialHandle handle);

} // namespace tqb9
