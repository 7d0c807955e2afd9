#include "ui/commandline.h"

#include "link/portmap.h"

namespace tqb9 {

std::optional<PortBindings> parseComOption(const QStringList& bindings, QString* why)
{
    QString bad;
    auto parsed = PortMap::parseBindings(bindings, &bad);
    if (!parsed && why)
        *why = QStringLiteral("--com \"%1\": expected N=DEVICE with N from %2 to %3")
                   .arg(bad)
                   .arg(PortMap::kFirstPort)
                   .arg(PortMap::kLastPort);
    return parsed;
}

QString bindPorts(PortMap& ports, const QStringList& bindings)
{
    QString why;
    const auto parsed = parseComOption(bindings, &why);
    if (!parsed)
        return why;
    ports = PortMap(*parsed);
    return {};
}

} // namespace tqb9
