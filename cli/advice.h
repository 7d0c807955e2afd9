#pragma once

#include "run/diagnosis.h"
#include "run/run.h"

#include <QString>
#include <QStringList>

namespace tqb9::cli {

// Why a run failed or stopped and what to do about it, for a terminal: one sentence a line,
// without the program's name, free to name the command line's options. Nothing for a completed
// run.
QStringList adviceFor(const RunReport& report);

// The parts that name a platform's own tools, one file per platform (advice_linux.cpp,
// advice_mac.cpp, advice_win.cpp).
namespace platform {
// What to do when the device exists but this account may not open it.
QStringList permissionAdvice(const QString& device, const DeviceFacts& facts);
// What to do when another program has the port open.
QString busyAdvice();
} // namespace platform

} // namespace tqb9::cli
