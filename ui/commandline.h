#pragma once

#include "link/portmap.h"

#include <optional>
#include <QString>
#include <QStringList>

namespace tqb9 {

// The "N=DEVICE" values of --com; nothing, and what is wrong with the first value that cannot be
// used in *why, when one cannot.
std::optional<PortBindings> parseComOption(const QStringList& bindings, QString* why);

// The ports bound as the "N=DEVICE" values of --com say, and no others. Returns what is wrong
// with the first value that cannot be used (ports then stay as they were), or an empty string
// when all were bound.
QString bindPorts(PortMap& ports, const QStringList& bindings);

} // namespace tqb9
