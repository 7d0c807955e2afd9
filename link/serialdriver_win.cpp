#include "link/serialdriver.h"

#include <QtGlobal>
#include <windows.h>

namespace tqb9 {

// No driver request here. The adapter's own setting does it: for FTDI adapters, the port's
// Properties > Port Settings > Advanced > Latency Timer, 1 ms (see README).
LowLatency requestLowLatency(SerialHandle)
{
    return {false, false, QStringLiteral("not offered on this system")};
}

void restoreLatency(SerialHandle, const LowLatency&) {}

qint64 driverInputCount(SerialHandle)
{
    return -1;
}

bool isLeftoverAbort(const QSerialPort& port)
{
    // QSerialPort words a system error with qt_error_string, and keeps no code of it.
    return port.error() == QSerialPort::ResourceError &&
           port.errorString() == qt_error_string(ERROR_OPERATION_ABORTED);
}

} // namespace tqb9
