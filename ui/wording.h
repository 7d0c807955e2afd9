#pragma once

#include "run/run.h"

#include <QString>
#include <QStringList>

namespace tqb9 {

// What the windows say of a run, in a window's words: they may name its controls, never the
// command line's options.

// The text of the one box a run ends with: the original window's own texts, and why a test
// image was not written.
QString windowMessage(Outcome outcome);

// Why a run failed or stopped and what to do next, one sentence a line; nothing for a completed
// run.
QStringList windowAdvice(const RunReport& report);

// Why the window stays open when it is asked to close during a run.
QString closeRefusedText();

} // namespace tqb9
