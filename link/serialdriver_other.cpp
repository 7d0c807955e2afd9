#include "link/serialdriver.h"

namespace tqb9 {

// No driver request here. On Windows the adapter's own setting does it: for FTDI adapters, the
// port's Properties > Port Settings > Advanced > Latency Timer, 1 ms (see README).
LowLatency requestLowLatency(qintptr)
{
    return {false, false, QStringLiteral("not offered on this system")};
}

void restoreLatency(qintptr, const LowLatency&) {}

qint64 driverInputCount(qintptr)
{
    return -1;
}

} // namespace tqb9
