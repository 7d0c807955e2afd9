#pragma once

#include "cli/options.h"
#include "run/station.h"

#include <memory>
#include <QObject>
#include <vector>

class QTimer;

namespace tqb9 {
class RunLog;
}

namespace tqb9::cli {

class Progress;

// Several radios from one command, shown on standard error as the engine's station runs them:
// each port's progress (one line per port redrawn in place on a terminal), its outcome and advice
// as it ends, its log record, and one "PORT: OUTCOME" line per port on standard output once
// every run has ended.
class StationView : public QObject {
    Q_OBJECT
public:
    StationView(Options options, Station& station, RunLog* log);
    ~StationView() override;

    // Runs the station to its end and returns the exit status.
    int exec();

private:
    void onTrace(int index, const QString& lines);
    void onFinished(int index, const RunReport& report);
    void showLine(int index, const QString& text);
    void redraw();
    void say(int index, const QString& text);
    QString label(int index) const { return m_station.setup(index).port; }

    Options m_options;
    Station& m_station;
    RunLog* m_log;
    std::vector<std::unique_ptr<Progress>> m_progress;
    QStringList m_lines; // each port's live line
    bool m_live = false;
    int m_labelWidth = 0;
    bool m_dirty = false;
    int m_drawnLines = 0;
    QTimer* m_redraw = nullptr;
};

} // namespace tqb9::cli
