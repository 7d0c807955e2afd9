#include "run/diagnosis.h"

// macOS gives every user the cu.* and tty.* devices of an adapter, so a refused open is rare and
// has no group to join; and without /proc there is no cheap way to name the program that holds a
// port.
namespace tqb9::platform {

QStringList permissionAdvice(const QString& device, const DeviceFacts&)
{
    return {QStringLiteral("Ask an administrator for read and write access to %1.").arg(device)};
}

QString busyAdvice()
{
    return QStringLiteral("Close the program that has it open: a terminal program such as screen, "
                          "or another copy of tq-b9.");
}

QString findHolders(const QString&)
{
    return {};
}

} // namespace tqb9::platform
