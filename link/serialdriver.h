#pragma once

#include <chrono>
#include <memory>
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

// Whether the port's error is an aborted operation, which on Windows only a cancel makes. Qt's
// Windows backend closes a port by cancelling its pending wait, and learns of completions through
// one completion port for the whole program, keyed by an object that the next opening of any port
// may be given at the same address: the cancelled wait's late completion then reaches that port
// as an error of its own. Wine delivers it late enough that about one run of four ports at once
// in three saw one. Besides that, only this program's own purge of received bytes aborts a read;
// neither is the port failing. A port that has truly failed fails its next operation, or its reply
// never comes.
//
// retirePort: the object of a port that is closed and no longer wanted. A cancelled wait may still
// write its result into the object after the close has returned: Wine's serial layer does, up to
// a poll of its wait thread later, and a driver may complete a cancel late on Windows too. Freed at
// once, the memory was written over after it went back to the heap (a heap fault now and then with
// two ports watched at once under Wine); opened again at once, the old wait's "cancelled" landed on
// the new wait and Qt stopped reading that port for good (the radio answered, the run heard
// nothing). So every opening gets a fresh object, and on Windows a closed one is kept a while
// before it is freed; elsewhere it is freed at once.
#ifdef Q_OS_WIN
bool isLeftoverAbort(const QSerialPort& port);
void retirePort(std::unique_ptr<QSerialPort> port);
#else
inline bool isLeftoverAbort(const QSerialPort&)
{
    return false;
}
inline void retirePort(std::unique_ptr<QSerialPort>) {}
#endif

} // namespace tqb9
