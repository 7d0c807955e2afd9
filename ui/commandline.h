#pragma once

#include <QString>
#include <QStringList>

namespace tqb9 {

class PortMap;

// Binds each "N=DEVICE" of --com to its port. Returns what is wrong with the first value that
// cannot be used, or an empty string when all were bound.
QString bindPorts(PortMap& ports, const QStringList& bindings);

} // namespace tqb9
