#include "cli/stationview.h"

#include "cli/advice.h"
#include "cli/frontend.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "run/runlog.h"

#include <QEventLoop>
#include <QTimer>

namespace tqb9::cli {
namespace {

// As often as a single run redraws its line: more only costs CPU.
constexpr std::chrono::milliseconds kRedraw{100};
const QString kPrefix = QStringLiteral("tq-b9-cli: ");

} // namespace

StationView::StationView(Options options, Station& station, RunLog* log)
    : m_options(std::move(options)), m_station(station), m_log(log)
{}

StationView::~StationView() = default;

int StationView::exec()
{
    // Trace lines would tear lines redrawn in place, so a trace gets plain progress.
    m_live = stderrIsTerminal() && !m_options.trace && !m_options.quiet;
    for (int i = 0; i < m_station.size(); ++i) {
        m_labelWidth = std::max(m_labelWidth, static_cast<int>(label(i).size()));
        Progress::Sink sink;
        if (m_options.quiet) {
            sink = [](const QString&) {
            };
        } else if (m_live) {
            sink = [this, i](const QString& text) {
                const QString line = text.trimmed();
                if (!line.isEmpty())
                    showLine(i, line);
            };
        } else {
            sink = [this, i](const QString& text) {
                say(i, text.startsWith(kPrefix) ? text.mid(kPrefix.size()).chopped(1) : text);
            };
        }
        m_progress.push_back(std::make_unique<Progress>(m_live, std::move(sink)));
        m_lines << QStringLiteral("waiting");
    }
    if (m_live) {
        m_redraw = new QTimer(this);
        m_redraw->setInterval(kRedraw);
        connect(m_redraw, &QTimer::timeout, this, [this] {
            if (m_dirty)
                redraw();
        });
        m_redraw->start();
        redraw();
    }

    connect(&m_station, &Station::stepStarted, this,
            [this](int i, Step step, const QString& detail) {
                m_progress[static_cast<std::size_t>(i)]->step(step, m_live ? QString() : detail);
            });
    connect(&m_station, &Station::writeBegins, this, [this](int i, int blocks) {
        m_progress[static_cast<std::size_t>(i)]->writeBegins(blocks);
    });
    connect(&m_station, &Station::blockWritten, this, [this](int i, double seconds) {
        m_progress[static_cast<std::size_t>(i)]->blockWritten(seconds);
    });
    connect(&m_station, &Station::traced, this, &StationView::onTrace);
    connect(&m_station, &Station::runFinished, this, &StationView::onFinished);

    QEventLoop loop;
    connect(&m_station, &Station::finished, &loop, &QEventLoop::quit);
    InterruptNotifier interrupt;
    connect(&interrupt, &InterruptNotifier::interrupted, &m_station, &Station::abort);
    m_station.start();
    loop.exec();

    if (m_live) {
        m_redraw->stop();
        redraw();
        // Advice waits until the lines drawn in place are done with.
        for (int i = 0; i < m_station.size(); ++i) {
            for (const QString& line : adviceFor(*m_station.report(i)))
                say(i, line);
        }
    }
    int status = exitstatus::Completed;
    QString out;
    for (int i = 0; i < m_station.size(); ++i) {
        const RunReport& report = *m_station.report(i);
        out += QStringLiteral("%1: %2\n").arg(report.port, messageFor(report.outcome));
        if (status == exitstatus::Completed)
            status = report.status;
    }
    writeOut(out);
    return status;
}

void StationView::onTrace(int index, const QString& lines)
{
    QString text;
    for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        text += QStringLiteral("%1: %2\n").arg(label(index), line);
    writeErr(text);
}

void StationView::onFinished(int index, const RunReport& report)
{
    m_progress[static_cast<std::size_t>(index)]->finish();
    QString ending = messageFor(report.outcome);
    if (report.outcome != Outcome::Completed)
        ending += QStringLiteral(" (%1 step)").arg(QString::fromLatin1(stepName(report.step)));
    if (m_live) {
        showLine(index, ending);
    } else if (!m_options.quiet) {
        say(index, ending);
        for (const QString& line : adviceFor(report))
            say(index, line);
    }
    if (m_log) {
        QString error;
        if (!m_log->append(logLine(report), &error))
            writeErr(kPrefix + logFailure(false, m_log->path(), error) + QLatin1Char('\n'));
    }
}

void StationView::showLine(int index, const QString& text)
{
    m_lines[index] = text;
    m_dirty = true;
}

void StationView::redraw()
{
    // One line per port, rewritten in place: up to the first, then each line over its old self.
    QString text;
    if (m_drawnLines > 0)
        text += QStringLiteral("\x1b[%1A").arg(m_drawnLines);
    for (int i = 0; i < m_station.size(); ++i)
        text += QStringLiteral("\r%1  %2\x1b[K\n")
                    .arg(label(i).leftJustified(m_labelWidth), m_lines[i]);
    m_drawnLines = m_station.size();
    m_dirty = false;
    writeErr(text);
}

void StationView::say(int index, const QString& text)
{
    writeErr(QStringLiteral("%1%2: %3\n").arg(kPrefix, label(index), text));
}

} // namespace tqb9::cli
