#include "link/portmap.h"
#include "run/diagnosis.h"

// Windows has no device files to look at: COMn exists when the driver made it, and opening it is
// the only test of access, so the port's own error is all there is to go on.
namespace tqb9 {

DeviceFacts probeDevice(const QString& device)
{
    DeviceFacts facts;
    facts.exists = true;
    facts.accessible = true;
    // "COM23" is the number; Device Manager lists the cable by its friendly name.
    facts.name = PortMap::friendlyName(device);
    return facts;
}

namespace platform {

QString findHolders(const QString&)
{
    return {};
}

} // namespace platform
} // namespace tqb9
