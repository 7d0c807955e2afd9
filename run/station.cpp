#include "run/station.h"

#include "link/portmap.h"
#include "run/runsignals.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QThread>

namespace tqb9 {
namespace {

// A device and a symlink to it are one port, and so are two spellings of one path. A COM number
// with nothing behind it is only itself.
QString sameness(int comPort, const QString& device)
{
    if (device.isEmpty())
        return QStringLiteral("COM%1").arg(comPort);
    const QFileInfo file(device);
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : canonical;
}

} // namespace

struct Station::Slot {
    Run::Setup setup;
    QThread thread;
    // Lives in thread: what the run's own thread is asked to do is posted to it.
    std::unique_ptr<QObject> worker;
    Run* run = nullptr; // touched in thread only
    // Lives on the station's thread: the run's events, as signals there.
    RunSignals events;
    std::optional<RunReport> report;
};

std::variant<QList<Run::Setup>, Station::SamePort> Station::resolve(QList<Run::Setup> setups)
{
    QHash<QString, QString> seen;
    for (Run::Setup& setup : setups) {
        const QString device = PortMap(setup.bindings).deviceFor(setup.comPort);
        const QString key = sameness(setup.comPort, device);
        if (seen.contains(key))
            return SamePort{setup.port, seen.value(key), device != setup.port ? device : QString()};
        seen.insert(key, setup.port);
        // Nothing there: the run fails to open it and says so.
        if (!device.isEmpty())
            setup.bindings = {{setup.comPort, device}};
    }
    return setups;
}

Station::Station(QList<Run::Setup> setups, QObject* parent) : QObject(parent)
{
    for (Run::Setup& setup : setups) {
        auto slot = std::make_unique<Slot>();
        slot->setup = std::move(setup);
        m_slots.push_back(std::move(slot));
    }
}

// A run still going when its station goes ends as a program that closes does: quitting its
// thread ends the wait in progress.
Station::~Station()
{
    for (const auto& slot : m_slots) {
        slot->thread.quit();
        slot->thread.wait();
    }
}

const Run::Setup& Station::setup(int index) const
{
    return m_slots.at(static_cast<std::size_t>(index))->setup;
}

const std::optional<RunReport>& Station::report(int index) const
{
    return m_slots.at(static_cast<std::size_t>(index))->report;
}

void Station::abort(int signalNumber)
{
    for (const auto& slot : m_slots) {
        Slot* s = slot.get();
        if (!s->worker)
            continue;
        QMetaObject::invokeMethod(
            s->worker.get(),
            [s, signalNumber] {
                if (s->run)
                    s->run->stop(stoppedBySignal(signalNumber));
            },
            Qt::QueuedConnection);
    }
}

void Station::start()
{
    m_running = size();
    for (int i = 0; i < size(); ++i) {
        Slot* s = m_slots[static_cast<std::size_t>(i)].get();
        s->worker = std::make_unique<QObject>();
        // A lone run needs no thread of its own: its waits nest in the caller's event loop, as
        // the window's do, and its progress costs no wake of another thread.
        if (size() > 1) {
            s->worker->moveToThread(&s->thread);
            s->thread.setObjectName(QStringLiteral("radio %1").arg(s->setup.port));
            s->thread.start();
        }
        RunSignals* events = &s->events;
        events->disconnect(this);
        connect(events, &RunSignals::stepStarted, this,
                [this, i](Step step, const QString& detail) { emit stepStarted(i, step, detail); });
        connect(events, &RunSignals::writeBegins, this,
                [this, i](int blocks) { emit writeBegins(i, blocks); });
        connect(events, &RunSignals::blockWritten, this,
                [this, i](double seconds) { emit blockWritten(i, seconds); });
        connect(events, &RunSignals::traced, this,
                [this, i](const QString& lines) { emit traced(i, lines); });
        connect(events, &RunSignals::finished, this, [this, i, s](const RunReport& report) {
            s->report = report;
            --m_running;
            emit runFinished(i, report);
            if (m_running == 0)
                emit finished();
        });
        QMetaObject::invokeMethod(
            s->worker.get(),
            [s, events] {
                Run run(s->setup, events->events());
                s->run = &run;
                const RunReport report = run.exec();
                s->run = nullptr;
                events->finish(report);
                if (s->thread.isRunning())
                    QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
    }
}

} // namespace tqb9
