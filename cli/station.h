#pragma once

#include "cli/options.h"
#include "cli/radiorun.h"

#include <memory>
#include <optional>
#include <QObject>
#include <vector>

class QTimer;

namespace tqb9::cli {

class RunLog;

// Several radios from one command: one whole Start run per port, all at once.
//
// Every wait for a radio is a nested event loop, so runs sharing one thread would nest their
// loops and a silent radio would hold the others' returns until its window closed. Each run
// therefore has a thread of its own, with its own Session, port, reply window and event loop.
// This object stays on the main thread: it starts the runs, shows their progress, passes Ctrl-C
// on to each run's own thread, logs each run as it ends, and reports once all have ended.
class Station : public QObject {
    Q_OBJECT
public:
    // Every run starts from common: the firmware and the trace wanted.
    Station(Options options, RadioRun::Setup common, RunLog* log);
    ~Station() override;

    // Returns the exit status.
    int exec();

private:
    struct Slot;

    void onTrace(int index, const QString& lines);
    void onFinished(int index, const RunReport& report);
    void showLine(int index, const QString& text);
    void redraw();
    void say(int index, const QString& text);

    Options m_options;
    RadioRun::Setup m_common;
    RunLog* m_log;
    std::vector<std::unique_ptr<Slot>> m_slots;
    bool m_live = false;
    int m_labelWidth = 0;
    bool m_dirty = false;
    int m_drawnLines = 0;
    QTimer* m_redraw = nullptr;
    int m_running = 0;
};

} // namespace tqb9::cli
