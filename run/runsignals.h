#pragma once

#include "run/run.h"

#include <QObject>
#include <QString>

namespace tqb9 {

// A run's events as signals on the thread this lives on, wherever the run itself goes: the one
// frame for runs off the caller's thread. What the run reports from its own thread is posted
// here and emitted in order, so a station and a watch only connect to these.
class RunSignals : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The events to give a Run on any thread.
    Run::Events events();
    // From the run's thread, once its report is made (or a probe's, which is made the same way).
    void finish(const RunReport& report);

signals:
    void stepStarted(tqb9::Step step, const QString& detail);
    void writeBegins(int blocks);
    void blockWritten(double seconds); // since the write began
    void unanswered(tqb9::Step step);
    void traced(const QString& lines);
    void finished(const tqb9::RunReport& report);

private:
    template <typename Call> void post(Call call)
    {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    }
};

} // namespace tqb9
