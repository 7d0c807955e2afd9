#include "cli/watchview.h"

#include "cli/advice.h"
#include "cli/frontend.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "run/runlog.h"

#include <memory>
#include <QEventLoop>

namespace tqb9::cli {
namespace {

const QString kPrefix = QStringLiteral("tq-b9-cli: ");

QString stateText(PortWatch::State state)
{
    switch (state) {
    case PortWatch::State::Idle:
        return QStringLiteral("stopped");
    case PortWatch::State::Waiting:
        return QStringLiteral("waiting for a radio");
    case PortWatch::State::Writing:
        return QStringLiteral("radio found");
    case PortWatch::State::Held:
        return QStringLiteral("remove the radio");
    case PortWatch::State::Vanished:
        return QStringLiteral("port not there; waiting for it");
    }
    return {};
}

} // namespace

WatchView::WatchView(Options options, const QList<Run::Setup>& setups, RunLog* log)
    : m_options(std::move(options)), m_log(log)
{
    for (const Run::Setup& setup : setups)
        m_watches.push_back(std::make_unique<PortWatch>(setup));
}

WatchView::~WatchView() = default;

QString WatchView::label(int index) const
{
    return m_watches[static_cast<std::size_t>(index)]->setup().port;
}

void WatchView::say(int index, const QString& text)
{
    if (!m_options.quiet)
        writeErr(QStringLiteral("%1%2: %3\n").arg(kPrefix, label(index), text));
}

int WatchView::exec()
{
    QEventLoop loop;
    int stopping = 0;
    for (int i = 0; i < static_cast<int>(m_watches.size()); ++i) {
        PortWatch* watch = m_watches[static_cast<std::size_t>(i)].get();
        // Runs come and go for as long as the program watches, so progress is plain lines, as
        // on a pipe, wherever standard error goes.
        m_progress.push_back(std::make_unique<Progress>(false, [this, i](const QString& text) {
            say(i, text.startsWith(kPrefix) ? text.mid(kPrefix.size()).chopped(1) : text);
        }));
        Progress* progress = m_progress.back().get();
        // Held before any run here: the radio was on the cable when the watch started.
        auto ran = std::make_shared<bool>(false);
        connect(watch, &PortWatch::stateChanged, this, [this, i, ran](PortWatch::State state) {
            if (state == PortWatch::State::Held && !*ran)
                say(i, QStringLiteral("a radio was on the cable already: not written; take it "
                                      "off and put it on again to write it"));
            else
                say(i, stateText(state));
        });
        connect(watch, &PortWatch::stepStarted, this,
                [progress](Step step, const QString& detail) { progress->step(step, detail); });
        connect(watch, &PortWatch::writeBegins, this,
                [progress](int blocks) { progress->writeBegins(blocks); });
        connect(watch, &PortWatch::blockWritten, this,
                [progress](double seconds) { progress->blockWritten(seconds); });
        connect(watch, &PortWatch::traced, this, [this, i](const QString& lines) {
            QString text;
            for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                text += QStringLiteral("%1: %2\n").arg(label(i), line);
            writeErr(text);
        });
        connect(watch, &PortWatch::runFinished, this, [this, i, progress, ran](const RunReport& r) {
            *ran = true;
            progress->finish();
            writeOut(QStringLiteral("%1: %2\n").arg(r.port, messageFor(r.outcome)));
            for (const QString& line : adviceFor(r))
                say(i, line);
            if (m_log) {
                QString error;
                if (!m_log->append(logLine(r), &error))
                    writeErr(kPrefix + logFailure(false, m_log->path(), error) + QLatin1Char('\n'));
            }
        });
        connect(watch, &PortWatch::stopped, &loop, [&stopping, &loop] {
            if (--stopping == 0)
                loop.quit();
        });
    }

    InterruptNotifier interrupt;
    connect(&interrupt, &InterruptNotifier::interrupted, this, [this, &stopping](int signal) {
        stopping = static_cast<int>(m_watches.size());
        for (const auto& watch : m_watches)
            watch->stop(stoppedBySignal(signal));
    });
    for (const auto& watch : m_watches)
        watch->setAutomatic(true);
    loop.exec();
    // Only a signal ends the watch; each run it interrupted has said so in its own line.
    return exitstatus::SignalBase + interrupt.signalNumber();
}

} // namespace tqb9::cli
