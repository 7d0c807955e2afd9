#include "run/run.h"

#include "link/portmap.h"
#include "run/diagnosis.h"
#include "run/exitstatus.h"
#include "run/trace.h"

#include <cmath>
#include <csignal>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QSet>

namespace tqb9 {

const char* stopKey(StoppedBy by)
{
    switch (by) {
    case StoppedBy::Nobody:
        break;
    case StoppedBy::Operator:
        return "operator";
    case StoppedBy::Sigint:
        return "SIGINT";
    case StoppedBy::Sigterm:
        return "SIGTERM";
    }
    return "";
}

StoppedBy stoppedBySignal(int signalNumber)
{
    return signalNumber == SIGTERM ? StoppedBy::Sigterm : StoppedBy::Sigint;
}

QString stopName(StoppedBy by)
{
    switch (by) {
    case StoppedBy::Nobody:
        break;
    case StoppedBy::Operator:
        return QStringLiteral("Stop");
    case StoppedBy::Sigint:
        return QStringLiteral("Ctrl-C");
    case StoppedBy::Sigterm:
        return QStringLiteral("SIGTERM");
    }
    return {};
}

namespace {

// The devices whose last run in this process was stopped after the connect command went out: the
// radio may still be in flash mode there, and a radio in flash mode answers no model query. Every
// run thread of a station reads and writes it.
QMutex stoppedMutex;
QSet<QString> stoppedInFlashMode;

// Notes how the run on device ended; true when its query went unanswered after such a stop.
bool noteStop(const QString& device, const RunReport& report)
{
    if (device.isEmpty())
        return false;
    const QMutexLocker lock(&stoppedMutex);
    if (report.stoppedBy != StoppedBy::Nobody) {
        if (report.finding.mayBeInFlashMode)
            stoppedInFlashMode.insert(device);
        return false;
    }
    // A radio that answered the query is out of flash mode, switched off and on or replaced.
    if (report.step != Step::Query || report.outcome == Outcome::RegionError) {
        stoppedInFlashMode.remove(device);
        return false;
    }
    using Reason = Finding::Reason;
    const Reason reason = report.finding.reason;
    return (reason == Reason::NoAnswer || reason == Reason::ShortEcho || reason == Reason::Silent ||
            reason == Reason::WrongAnswer) &&
           stoppedInFlashMode.contains(device);
}

int exitStatusFor(StoppedBy by)
{
    switch (by) {
    case StoppedBy::Nobody:
        break;
    case StoppedBy::Operator:
        return exitstatus::Stopped;
    case StoppedBy::Sigint:
        return exitstatus::SignalBase + SIGINT;
    case StoppedBy::Sigterm:
        return exitstatus::SignalBase + SIGTERM;
    }
    return exitstatus::Error;
}

} // namespace

std::optional<double> secondsLeft(int done, int total, double seconds)
{
    if (done <= 0 || seconds <= 0)
        return std::nullopt;
    return (total - done) * seconds / done;
}

QString minutesSeconds(double seconds)
{
    const long whole = std::lround(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

Run::Setup::PortFault Run::Setup::setPort(const QString& text, const PortBindings& given,
                                          int lastCom)
{
    if (text.isEmpty())
        return PortFault::Empty;
    if (const auto number = PortMap::comNumber(text)) {
        if (*number < PortMap::kFirstPort || *number > lastCom)
            return PortFault::ComOutOfRange;
        comPort = *number;
        bindings = given;
    } else {
        comPort = 1;
        bindings = {{comPort, text}};
    }
    port = text;
    return PortFault::None;
}

Run::Run(Setup setup, Events events) : m_setup(std::move(setup)), m_events(std::move(events)) {}

Run::~Run() = default;

void Run::stop(StoppedBy by)
{
    if (!m_session || m_stoppedBy != StoppedBy::Nobody || by == StoppedBy::Nobody)
        return;
    m_stoppedBy = by;
    m_session->abort(QStringLiteral("stopped by %1").arg(stopName(by)));
}

// What a run in progress keeps between its parts.
struct Run::Going {
    RunReport report;
    Failure failure;
    QElapsedTimer runClock;
    QElapsedTimer writeClock;
};

bool Run::portOpen() const
{
    return m_session && m_session->portOpen();
}

RunReport Run::exec()
{
    if (auto failed = query())
        return *std::move(failed);
    return programming();
}

std::optional<RunReport> Run::query()
{
    m_session = std::make_unique<Session>();
    m_going = std::make_unique<Going>();
    Session& session = *m_session;
    Going& going = *m_going;
    session.setFirmware(m_setup.firmwareToWrite());
    session.setAllowTestFirmware(m_setup.allowTestFirmware);
    if (m_setup.replyWindow.count() > 0)
        session.setReplyWindow(std::make_unique<PreciseWindow>(m_setup.replyWindow));
    const PortMap ports(m_setup.bindings);

    RunReport& report = going.report;
    report.port = m_setup.port;
    report.started = QDateTime::currentDateTimeUtc();
    report.firmware = session.firmware();

    Failure& failure = going.failure;
    failure.port = m_setup.comPort;
    // A device given itself runs as a COM number bound to it, but is only ever named as given.
    failure.deviceGiven = !m_setup.port.isEmpty() && !PortMap::comNumber(m_setup.port);
    failure.interval = session.replyWindowLength();
    going.runClock.start();

    QObject::connect(&session, &Session::stepStarted, [this, &session, &going](Step step) {
        going.failure.exchanged = false;
        if (step == Step::Query) {
            // The device the run resolved at its start, and stays on.
            const QString device = session.device();
            if (m_events.step && going.failure.deviceGiven)
                m_events.step(step, QStringLiteral("on %1").arg(m_setup.port));
            else if (m_events.step)
                m_events.step(
                    step,
                    QStringLiteral("on COM%1%2")
                        .arg(m_setup.comPort)
                        .arg(device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(device)));
        } else if (step == Step::Write) {
            going.writeClock.start();
            going.report.blocksToWrite = static_cast<int>(session.firmware().blocks().size());
            if (m_events.writeBegins)
                m_events.writeBegins(going.report.blocksToWrite);
        } else if (m_events.step) {
            m_events.step(step, {});
        }
    });
    QObject::connect(&session, &Session::blockWritten, [this, &going](int) {
        ++going.report.blocksWritten;
        if (m_events.blockWritten)
            m_events.blockWritten(static_cast<double>(going.writeClock.nsecsElapsed()) / 1e9);
    });
    if (m_events.barValue)
        QObject::connect(&session, &Session::barValue, m_events.barValue);
    QObject::connect(
        &session, &Session::exchanged,
        [this, &session, &going](const QByteArray& sent, const QByteArray& received,
                                 std::int16_t code) {
            ++going.report.attempts.at(static_cast<std::size_t>(session.currentStep()));
            going.failure.exchanged = true;
            going.failure.sent = sent.size();
            going.failure.received = received.size();
            going.failure.code = code;
            if (code == reply::None && m_events.unanswered)
                m_events.unanswered(session.currentStep());
            if (m_setup.trace && m_events.trace) {
                m_events.trace(
                    formatExchange(static_cast<double>(going.runClock.nsecsElapsed()) / 1e9, sent,
                                   received, code, m_setup.traceFull));
            }
        });

    if (m_setup.trace && m_events.trace) {
        QObject::connect(
            &session, &Session::lineOpened,
            [this, &going](const QString& device, const QString& lowLatency) {
                m_events.trace(
                    QStringLiteral("[%1s] opened %2; low latency: %3\n")
                        .arg(static_cast<double>(going.runClock.nsecsElapsed()) / 1e9, 8, 'f', 3)
                        .arg(device, lowLatency));
            });
    }

    if (const auto failed = session.runQuery(m_setup.comPort, ports.deviceFor(m_setup.comPort)))
        return finish(*failed);
    return std::nullopt;
}

RunReport Run::programming()
{
    // Only after a query the radio agreed to; anything else is the caller's slip, reported as
    // a run that never got past its query rather than a crash.
    if (!m_session || !m_going) {
        RunReport report;
        report.port = m_setup.port;
        report.status = exitStatusFor(report.outcome);
        return report;
    }
    return finish(m_session->runProgramming());
}

RunReport Run::finish(Outcome outcome)
{
    Session& session = *m_session;
    RunReport report = std::move(m_going->report);
    Failure& failure = m_going->failure;
    report.outcome = outcome;
    report.writeStoppedAt = session.writeStoppedAt();
    report.seconds = static_cast<double>(m_going->runClock.nsecsElapsed()) / 1e9;
    report.step = session.currentStep();
    report.device = session.device();
    report.status = exitStatusFor(report.outcome);
    // A stop that came after the last wait stopped nothing: the run is complete.
    if (m_stoppedBy != StoppedBy::Nobody && report.outcome != Outcome::Completed) {
        report.stoppedBy = m_stoppedBy;
        report.status = exitStatusFor(m_stoppedBy);
        failure.step = report.step;
        failure.device = report.device;
        report.finding = classify(failure, {});
        report.finding.reason = Finding::Reason::Stopped;
        // Once the connect command has gone out the radio may have switched to flash mode,
        // whether or not its answer came back before the stop.
        report.finding.mayBeInFlashMode = report.step != Step::Query;
    } else if (report.outcome != Outcome::Completed) {
        failure.outcome = report.outcome;
        failure.step = report.step;
        failure.device = report.device;
        failure.errorKind = session.lastErrorKind();
        failure.error = session.lastError();
        if (report.step == Step::Write) {
            failure.blockAddress = report.writeStoppedAt;
            failure.blocksDone = report.blocksWritten;
            failure.blocksTotal = report.blocksToWrite;
        }
        explain(report, failure);
    }
    report.finding.afterStopInFlashMode = noteStop(report.device, report);
    // The session stays until the run goes, so its port can still be asked about.
    m_going.reset();
    return report;
}

void Run::explain(RunReport& report, const Failure& failure, bool probe)
{
    const DeviceFacts facts =
        failure.device.isEmpty() || !probe ? DeviceFacts{} : probeDevice(failure.device);
    report.finding = classify(failure, facts);
}

RunReport Run::regionRefused(const Setup& setup, const QString& device, const QDateTime& started,
                             double seconds, std::chrono::milliseconds window)
{
    RunReport report;
    report.port = setup.port;
    report.device = device;
    report.started = started;
    report.seconds = seconds;
    report.outcome = Outcome::RegionError;
    report.step = Step::Query;
    report.status = exitStatusFor(Outcome::RegionError);
    report.attempts.at(static_cast<std::size_t>(Step::Query)) = 1;
    report.firmware = setup.firmwareToWrite();
    Failure failure;
    failure.outcome = Outcome::RegionError;
    failure.port = setup.comPort;
    failure.device = device;
    failure.exchanged = true;
    failure.code = reply::RE;
    failure.interval = window;
    // The radio answered: nothing to ask the system about its port.
    explain(report, failure, false);
    return report;
}

} // namespace tqb9
