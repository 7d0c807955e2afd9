#include "ui/commandline.h"

#include "link/portmap.h"

namespace tqb9 {

QString bindPorts(PortMap& ports, const QStringList& bindings)
{
    for (const QString& text : bindings) {
        const auto binding = PortMap::parseBinding(text);
        if (!binding) {
            return QStringLiteral("--com %1: expected N=DEVICE with N from %2 to %3")
                .arg(text)
                .arg(PortMap::kFirstPort)
                .arg(PortMap::kLastPort);
        }
        ports.bind(binding->first, binding->second);
    }
    return {};
}

} // namespace tqb9
