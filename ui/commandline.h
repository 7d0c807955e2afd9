#pragma once

#include <QString>
#include <QStringList>

namespace tqb9 {

class PortMap;

// Exit status for a command line the program cannot use (sysexits' EX_USAGE).
inline constexpr int kUsageError = 64;
// A --firmware file that breaks a rule (EX_DATAERR) or cannot be read (EX_NOINPUT).
inline constexpr int kBadFirmwareFile = 65;
inline constexpr int kNoFirmwareFile = 66;

// Binds each "N=DEVICE" of --com to its port. Returns what is wrong with the first value that
// cannot be used, or an empty string when all were bound.
QString bindPorts(PortMap& ports, const QStringList& bindings);

} // namespace tqb9
