#include "link/serialdriver.h"

namespace tqb9 {

// No driver request here. On Windows the adapter's own setting does it: for FTDI adapters, the
// port's Properties > Port Settings > Advanced > Latency Timer, 1 ms (see README).
LowLatency requestLowLatency(SerialHandle)
{
    return {false, false, QStringLiteral("not offered on this system")};
}

void restoreLatency(SerialHandle, const LowLatency&) {}

qint64 driverInputCount(SerialHandle)
{
    return -1;
}

} // namespace tqb9
