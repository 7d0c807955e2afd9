#include "cli/advice.h"

namespace tqb9::cli::platform {

QStringList permissionAdvice(const QString& device, const DeviceFacts& facts)
{
    if (facts.group.isEmpty() || facts.group == QLatin1String("root"))
        return {
            QStringLiteral("Ask an administrator for read and write access to %1.").arg(device)};
    if (facts.inGroupDatabase) {
        return {QStringLiteral("The device belongs to the group \"%1\". Your account is in it, but "
                               "this login session is not yet: log out and in again, or run: "
                               "newgrp %1")
                    .arg(facts.group)};
    }
    return {QStringLiteral("The device belongs to the group \"%1\". Join it with: "
                           "sudo usermod -aG %1 $USER  then log out and in again.")
                .arg(facts.group)};
}

QString busyAdvice()
{
    return QStringLiteral("Close that program. ModemManager often grabs USB serial adapters as "
                          "they appear; stop it with: sudo systemctl stop ModemManager");
}

} // namespace tqb9::cli::platform
