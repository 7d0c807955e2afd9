#include "run/runsignals.h"

namespace tqb9 {

Run::Events RunSignals::events()
{
    Run::Events events;
    events.step = [this](Step step, const QString& detail) {
        post([this, step, detail] { emit stepStarted(step, detail); });
    };
    events.writeBegins = [this](int blocks) {
        post([this, blocks] { emit writeBegins(blocks); });
    };
    events.blockWritten = [this](double seconds) {
        post([this, seconds] { emit blockWritten(seconds); });
    };
    events.unanswered = [this](Step step) {
        post([this, step] { emit unanswered(step); });
    };
    events.trace = [this](const QString& lines) {
        post([this, lines] { emit traced(lines); });
    };
    return events;
}

void RunSignals::finish(const RunReport& report)
{
    post([this, report] { emit finished(report); });
}

} // namespace tqb9
