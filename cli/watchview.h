#pragma once

#include "cli/options.h"
#include "run/watch.h"

#include <memory>
#include <QObject>
#include <vector>

namespace tqb9 {
class RunLog;
}

namespace tqb9::cli {

class Progress;

// --watch: every port waits for a radio, writes each one attached and waits for it to go, until
// Ctrl-C or SIGTERM. A radio already on its cable when the watch starts is held, not written,
// until it is taken off and put on again. One "PORT: OUTCOME" line on standard output per run, as
// it ends, with its log record; each port's progress and states on standard error as plain lines.
class WatchView : public QObject {
    Q_OBJECT
public:
    WatchView(Options options, const QList<Run::Setup>& setups, RunLog* log);
    ~WatchView() override;

    // Watches until a signal has stopped every port; returns the exit status.
    int exec();

private:
    void say(int index, const QString& text);
    QString label(int index) const;

    Options m_options;
    RunLog* m_log;
    std::vector<std::unique_ptr<PortWatch>> m_watches;
    std::vector<std::unique_ptr<Progress>> m_progress;
};

} // namespace tqb9::cli
