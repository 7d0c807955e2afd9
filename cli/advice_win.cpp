#include "cli/advice.h"

namespace tqb9::cli::platform {

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

} // namespace tqb9::cli::platform
