#include "ui/commandline.h"

#include "link/portmap.h"

namespace tqb9 {

QString bindPorts(PortMap& ports, const QStringList& bindings)
{
    QString why;
    const auto parsed = PortMap::parseBindings(bindings, &why);
    if (!parsed)
        return why;
    for (const auto& [port, device] : *parsed)
        ports.bind(port, device);
    return {};
}

} // namespace tqb9
