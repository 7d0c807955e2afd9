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

QStringList permissionAdvice(const QString& device, const DeviceFacts&)
{
    return {QStringLiteral("Ask an administrator for access to %1.").arg(device)};
}

QString busyAdvice()
{
    return QStringLiteral("Windows lets one program at a time open a COM port: close the other one "
                          "(a terminal program, another copy of tq-b9), then run again. Device "
                          "Manager, under Ports (COM & LPT), shows which number the cable has.");
}

QString findHolders(const QString&)
{
    return {};
}

} // namespace platform
} // namespace tqb9
