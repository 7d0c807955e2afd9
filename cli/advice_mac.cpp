#include "cli/advice.h"

// macOS gives every user the cu.* and tty.* devices of an adapter, so a refused open is rare and
// has no group to join.
namespace tqb9::cli::platform {

QStringList permissionAdvice(const QString& device, const DeviceFacts&)
{
    return {QStringLiteral("Ask an administrator for read and write access to %1.").arg(device)};
}

QString busyAdvice()
{
    return QStringLiteral("Close the program that has it open: a terminal program such as screen, "
                          "or another copy of tq-b9.");
}

} // namespace tqb9::cli::platform
