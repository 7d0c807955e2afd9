#pragma once

#include "cli/options.h"
#include "run/session.h"

#include <optional>
#include <QString>

namespace tqb9 {
class RunLog;
class Station;
} // namespace tqb9

namespace tqb9::cli {

// The command line program: turns options into the engine's runs and what they report into
// progress, one outcome line, advice and an exit status. Everything that talks to the radio is
// the engine's.

class FrontEnd {
public:
    explicit FrontEnd(Options options) : m_options(std::move(options)) {}

    // Returns the exit status.
    int exec();

private:
    // One radio: its progress, outcome line and advice, as a window user would see them.
    int run(Station& station, RunLog* log);
    int listPorts();
    int exportImage();
    int info();
    int version();
    // The built-in firmware, or the --firmware file in its place. Returns the exit status when the
    // file is refused (its message is on standard error by then). forRun: the firmware is to be
    // written or exported, so a file that leaves erase blocks blank is refused unless
    // --allow-partial-firmware was given.
    std::optional<int> loadFirmware(Firmware& firmware, bool forRun = false);

    Options m_options;
};

// Both flush at once: the outcome line and the progress must reach a pipe in the order written.
void writeOut(const QString& text);
void writeErr(const QString& text);
// Standard error is a terminal, where progress can be redrawn in place.
bool stderrIsTerminal();
// "cannot write the log runs.jsonl: Permission denied", from what the system said.
QString logFailure(bool opening, const QString& path, const QString& systemError);

} // namespace tqb9::cli
