#pragma once

#include <QString>
#include <QStringList>

namespace tqb9 {

class PortMap;

// The ports bound as the "N=DEVICE" values of --com say, and no others. Returns what is wrong
// with the first value that cannot be used (ports then stay as they were), or an empty string
// when all were bound.
QString bindPorts(PortMap& ports, const QStringList& bindings);

} // namespace tqb9
