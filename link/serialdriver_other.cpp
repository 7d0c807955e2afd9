#include "link/serialdriver.h"

namespace tqb9 {

// No driver request here.
LowLatency requestLowLatency(SerialHandle)
{
    return {false, false, QStringLiteral("not offered on this system")};
}

void restoreLatency(SerialHandle, const LowLatency&) {}

qint64 driverInputCount(SerialHandle)
{
    return -1;
}

bool isLeftoverAbort(const QSerialPort&)
{
    return false;
}

} // namespace tqb9
