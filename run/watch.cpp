#include "run/watch.h"

#include "link/portmap.h"
#include "link/reply.h"
#include "run/diagnosis.h"
#include "run/exitstatus.h"
#include "run/runsignals.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <utility>

namespace tqb9 {
namespace {

// What one probe found.
enum class Found { Nothing, Radio, OtherRegion, SomethingElse, NoPort, Stopped };

} // namespace

// Lives in the port's own thread, where every probe and run happens. What the owner asks for
// arrives as a queued call, and so may arrive inside the nested event loop of a probe or a run:
// such a call only changes what happens next, or ends the wait in progress, and never starts a
// probe or a run itself.
class Watcher : public QObject {
public:
    using Post = std::function<void(std::function<void()>)>;

    Watcher(Run::Setup setup, PortWatch::Timing timing, const std::atomic<bool>& closing,
            PortWatch* owner, RunSignals* events)
        : m_setup(std::move(setup)), m_timing(timing), m_closing(closing), m_owner(owner),
          m_events(events), m_next(this)
    {
        m_next.setSingleShot(true);
        connect(&m_next, &QTimer::timeout, this, &Watcher::next);
    }

    void setAutomatic(bool on)
    {
        const bool was = m_automatic;
        m_automatic = on;
        if (on) {
            // Whatever is on the cable now was put there before anyone asked for it to be
            // written: the first probe, not this call, says whether the port waits or holds.
            if (!was) {
                if (m_holding)
                    m_sinceAnswer.start();
                else
                    m_firstLook = true;
            }
            if (!m_busy)
                m_next.start(0);
            return;
        }
        m_next.stop();
        if (m_probe)
            m_probe->abort(QStringLiteral("automatic switched off"));
        if (!m_busy) {
            releasePort();
            setState(PortWatch::State::Idle);
        }
    }

    void start()
    {
        if (m_run)
            return;
        m_runWanted = true;
        if (m_probe)
            m_probe->abort(QStringLiteral("a run was asked for"));
        else if (!m_busy)
            m_next.start(0);
    }

    void stop(StoppedBy by)
    {
        m_automatic = false;
        m_runWanted = false;
        m_next.stop();
        if (m_run)
            m_run->stop(by);
        if (m_probe)
            m_probe->abort(QStringLiteral("stopped by %1").arg(stopName(by)));
        m_stopPending = true;
        if (!m_busy) {
            releasePort();
            setState(PortWatch::State::Idle);
            acknowledgeStop();
        }
    }

private:
    template <typename Call> void post(Call call)
    {
        QMetaObject::invokeMethod(m_owner, std::move(call), Qt::QueuedConnection);
    }

    void setState(PortWatch::State state)
    {
        if (state == m_state)
            return;
        m_state = state;
        PortWatch* owner = m_owner;
        post([owner, state] { owner->setStateFromWatcher(state); });
    }

    void acknowledgeStop()
    {
        if (!m_stopPending)
            return;
        m_stopPending = false;
        PortWatch* owner = m_owner;
        post([owner] { emit owner->stopped(); });
    }

    // Whatever was asked for while a probe or run went on happens now, from the thread's own
    // loop, so no run ever nests inside another wait.
    void next()
    {
        if (m_closing || m_busy)
            return;
        if (!m_automatic || m_runWanted)
            releasePort();
        if (m_runWanted) {
            m_runWanted = false;
            runOnce({});
        } else if (m_automatic) {
            probe();
        } else {
            setState(PortWatch::State::Idle);
            acknowledgeStop();
            return;
        }
        if (m_closing)
            return;
        if (m_runWanted) {
            m_next.start(0);
        } else if (m_automatic) {
            // A probe that went unanswered may still be answered late; the next one starts only
            // after two of its windows, as the link settles a packet's owed reply, and begins by
            // dropping whatever came meanwhile.
            const qint64 every = std::max(m_timing.probeEvery, 2 * m_timing.probeWindow).count();
            const qint64 since = m_sinceProbe.isValid() ? m_sinceProbe.elapsed() : every;
            m_next.start(std::chrono::milliseconds(std::max<qint64>(0, every - since)));
        } else {
            setState(PortWatch::State::Idle);
        }
        acknowledgeStop();
    }

    // A test image is never announced to a radio, not even by a query: the run refuses it before
    // it opens the port, and nothing is probed.
    bool refusesFirmware()
    {
        return !m_setup.firmwareToWrite().mayBeWritten(m_setup.allowTestFirmware);
    }

    void probe()
    {
        if (refusesFirmware()) {
            m_automatic = false;
            PortWatch* owner = m_owner;
            post([owner] { owner->automaticOffFromWatcher(); });
            runOnce({});
            return;
        }
        m_sinceProbe.start();
        const QDateTime started = QDateTime::currentDateTimeUtc();
        // Whatever the number leads to now, so a replugged adapter is found again.
        const QString device =
            PortMap(m_setup.bindings).recentDeviceFor(m_setup.comPort, m_timing.probeEvery);

        m_busy = true;
        if (!m_probeLink) {
            m_probeLink = std::make_unique<Link>();
            m_probeLink->setWindow(std::make_unique<PreciseWindow>(m_timing.probeWindow));
            m_probeLink->setKeepPortOpen(true);
        }
        Link& link = *m_probeLink;
        link.clearAbort();
        link.clearLastError();
        link.setDevice(device, QStringLiteral("COM%1").arg(m_setup.comPort));
        m_probe = &link;
        const std::int16_t code = link.QueryModel();
        m_probe = nullptr;
        m_busy = false;

        Found found = Found::Nothing;
        if (link.aborted() || m_closing)
            found = Found::Stopped;
        else if (link.lastErrorKind() != QSerialPort::NoError)
            found = Found::NoPort;
        else if (code == reply::OK)
            found = Found::Radio;
        else if (code == reply::RE)
            found = Found::OtherRegion;
        else if (link.bytRxBuf().size() > Link::queryEchoSize())
            found = Found::SomethingElse;

        if (found == Found::Stopped)
            return;
        const bool firstLook = std::exchange(m_firstLook, false);
        const bool held = m_holding && m_sinceAnswer.elapsed() < m_timing.goneAfter.count();
        if (found == Found::Radio || found == Found::OtherRegion || found == Found::SomethingElse) {
            if (held || firstLook) {
                m_holding = true;
                m_sinceAnswer.start();
                setState(PortWatch::State::Held);
                return;
            }
            m_holding = false;
            if (found == Found::Radio) {
                releasePort();
                runOnce(device);
            } else if (found == Found::OtherRegion)
                regionError(device, started);
            else
                setState(PortWatch::State::Waiting);
            return;
        }
        m_holding = held;
        if (found == Found::NoPort)
            setState(PortWatch::State::Vanished);
        else
            setState(held ? PortWatch::State::Held : PortWatch::State::Waiting);
    }

    // The whole Start run, unchanged; device, when given, is the one the probe found the radio
    // on, so the run writes that radio whatever the COM numbers say meanwhile.
    void runOnce(const QString& device)
    {
        releasePort();
        m_next.stop();
        m_busy = true;
        setState(PortWatch::State::Writing);
        Run::Setup setup = m_setup;
        if (!device.isEmpty())
            setup.bindings = {{setup.comPort, device}};
        Run run(setup, m_events->events());
        m_run = &run;
        const RunReport report = run.exec();
        m_run = nullptr;
        m_busy = false;
        m_events->finish(report);
        hold();
    }

    // A radio of another region is never written; it is reported once, as the run's query step
    // would report it, and then held until it goes.
    void regionError(const QString& device, const QDateTime& started)
    {
        m_events->finish(Run::regionRefused(m_setup, device, started,
                                            static_cast<double>(m_sinceProbe.nsecsElapsed()) / 1e9,
                                            m_timing.probeWindow));
        hold();
    }

    // Between probes the port stays open; anything else has it to itself.
    void releasePort()
    {
        if (m_probeLink)
            m_probeLink->closePort();
    }

    // The radio just dealt with stays held until it has not answered for goneAfter.
    void hold()
    {
        m_firstLook = false;
        m_holding = true;
        m_sinceAnswer.start();
        if (m_automatic)
            setState(PortWatch::State::Held);
    }

    const Run::Setup m_setup;
    const PortWatch::Timing m_timing;
    const std::atomic<bool>& m_closing;
    PortWatch* const m_owner;
    RunSignals* const m_events; // on the owner's thread

    // A child, so that it moves to the port's thread with its owner.
    QTimer m_next;
    PortWatch::State m_state = PortWatch::State::Idle;
    bool m_automatic = false;
    bool m_runWanted = false;
    bool m_stopPending = false;
    // A probe or a run is going on, in a nested loop further up this thread's stack.
    bool m_busy = false;
    Link* m_probe = nullptr;
    std::unique_ptr<Link> m_probeLink;
    Run* m_run = nullptr;
    // A radio is on the cable that automatic must not write: the one a run or a refusal just
    // dealt with, or one that was there when automatic was switched on. It is let go once no
    // probe has had an answer for goneAfter; while automatic is off nobody looks, so that time
    // counts only from when it is switched on again.
    bool m_holding = false;
    // Automatic was just switched on and no probe has finished since: an answer to this one
    // comes from a radio that was already there.
    bool m_firstLook = false;
    QElapsedTimer m_sinceAnswer;
    QElapsedTimer m_sinceProbe;
};

struct PortWatch::Private {
    Run::Setup setup;
    Timing timing;
    State state = State::Idle;
    bool automatic = false;
    // start() asked for a run whose report has not come back yet.
    bool startAsked = false;
    std::atomic<bool> closing{false};
    RunSignals events;
    QThread thread;
    Watcher* watcher = nullptr; // lives in thread, deleted as it finishes

    template <typename Call> void ask(Call call)
    {
        QMetaObject::invokeMethod(watcher, std::move(call), Qt::QueuedConnection);
    }
};

PortWatch::PortWatch(Run::Setup setup, QObject* parent) : PortWatch(std::move(setup), {}, parent) {}

PortWatch::PortWatch(Run::Setup setup, Timing timing, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->setup = std::move(setup);
    d->timing = timing;
    d->watcher = new Watcher(d->setup, timing, d->closing, this, &d->events);
    connect(&d->events, &RunSignals::stepStarted, this, &PortWatch::stepStarted);
    connect(&d->events, &RunSignals::writeBegins, this, &PortWatch::writeBegins);
    connect(&d->events, &RunSignals::blockWritten, this, &PortWatch::blockWritten);
    connect(&d->events, &RunSignals::unanswered, this, &PortWatch::unanswered);
    connect(&d->events, &RunSignals::traced, this, &PortWatch::traced);
    connect(&d->events, &RunSignals::finished, this, &PortWatch::runFinishedFromWatcher);
    d->watcher->moveToThread(&d->thread);
    connect(&d->thread, &QThread::finished, d->watcher, &QObject::deleteLater);
    d->thread.setObjectName(QStringLiteral("watch %1").arg(d->setup.port));
    d->thread.start();
}

// A run still going ends as a program that closes does: quitting the thread ends the wait in
// progress, and the run fails at that step with its port closed.
PortWatch::~PortWatch()
{
    d->closing = true;
    d->thread.quit();
    d->thread.wait();
}

const Run::Setup& PortWatch::setup() const
{
    return d->setup;
}

const PortWatch::Timing& PortWatch::timing() const
{
    return d->timing;
}

PortWatch::State PortWatch::state() const
{
    return d->state;
}

bool PortWatch::automatic() const
{
    return d->automatic;
}

bool PortWatch::busy() const
{
    return d->state != State::Idle || d->automatic || d->startAsked;
}

void PortWatch::start()
{
    d->startAsked = true;
    Watcher* watcher = d->watcher;
    d->ask([watcher] { watcher->start(); });
}

void PortWatch::stop(StoppedBy by)
{
    d->automatic = false;
    d->startAsked = false;
    Watcher* watcher = d->watcher;
    d->ask([watcher, by] { watcher->stop(by); });
}

void PortWatch::setAutomatic(bool on)
{
    d->automatic = on;
    Watcher* watcher = d->watcher;
    d->ask([watcher, on] { watcher->setAutomatic(on); });
}

void PortWatch::automaticOffFromWatcher()
{
    d->automatic = false;
}

void PortWatch::runFinishedFromWatcher(const RunReport& report)
{
    d->startAsked = false;
    emit runFinished(report);
}

void PortWatch::setStateFromWatcher(State state)
{
    if (d->state == state)
        return;
    d->state = state;
    emit stateChanged(state);
}

} // namespace tqb9
