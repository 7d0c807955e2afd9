#include "ui/commandline.h"

#include "link/portmap.h"

namespace tqb9 {

QString bindPorts(PortMap& ports, const QStringList& bindings)
{
    QString why;
    const auto parsed = PortMap::parseBindings(bindings, &why);
    if (!parsed)
        return why;
    ports = PortMap(*parsed);
    return {};
}

} // namespace tqb9
