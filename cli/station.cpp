#include "cli/station.h"

#include "cli/frontend.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/runlog.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <QTimer>

namespace tqb9::cli {
namespace {

using namespace std::chrono_literals;

// As often as a single run redraws its line: more only costs CPU.
constexpr std::chrono::milliseconds kRedraw{100};
const QString kPrefix = QStringLiteral("tq-b9-cli: ");

// A device and a symlink to it are one port.
QString sameness(const QString& device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

} // namespace

struct Station::Slot {
    RadioRun::Setup setup;
    QThread thread;
    // Lives in thread: what the run's own thread is asked to do is posted to it.
    std::unique_ptr<QObject> worker;
    RadioRun* run = nullptr; // touched in thread only
    std::unique_ptr<Progress> progress;
    QString line; // the live line's text
    std::optional<RunReport> report;
};

Station::Station(Options options, RadioRun::Setup common, RunLog* log)
    : m_options(std::move(options)), m_common(std::move(common)), m_log(log)
{}

Station::~Station()
{
    for (const auto& slot : m_slots) {
        slot->thread.quit();
        slot->thread.wait();
    }
}

int Station::exec()
{
    // Every COM number is looked up once, at the start, so each run keeps to the device it began
    // on, and two names for one device are caught before either is opened.
    PortMap ports;
    for (const auto& [port, device] : std::as_const(m_options.bindings))
        ports.bind(port, device);
    const QList<PortMap::Port> present = ports.allPorts();
    QHash<QString, QString> seen;
    for (const QString& given : std::as_const(m_options.ports)) {
        auto slot = std::make_unique<Slot>();
        slot->setup = m_common;
        slot->setup.port = given;
        QString device = given;
        if (const auto number = comNumber(given)) {
            slot->setup.comPort = *number;
            // Above the menu (Windows' COM17 and up) the number is the device's name itself.
            device = *number <= PortMap::kLastPort
                         ? present.at(*number - PortMap::kFirstPort).device
                         : ports.deviceFor(*number);
            // Nothing there: the run fails to open it and says so, as a single run would.
            slot->setup.bindings = m_options.bindings;
        }
        if (!device.isEmpty()) {
            const QString key = sameness(device);
            if (seen.contains(key)) {
                writeErr(QStringLiteral("tq-b9-cli: --port %1 is the same port as --port %2 (%3)\n"
                                        "%4Try 'tq-b9-cli --help' for more.\n")
                             .arg(given, seen.value(key), device, usageText()));
                return exitstatus::Usage;
            }
            seen.insert(key, given);
            slot->setup.bindings = {{slot->setup.comPort, device}};
        }
        m_labelWidth = std::max(m_labelWidth, static_cast<int>(given.size()));
        m_slots.push_back(std::move(slot));
    }

    // Trace lines would tear lines redrawn in place, so a trace gets plain progress.
    m_live = stderrIsTerminal() && !m_options.trace && !m_options.quiet;
    for (int i = 0; i < static_cast<int>(m_slots.size()); ++i) {
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
        m_slots[i]->progress = std::make_unique<Progress>(m_live, std::move(sink));
        m_slots[i]->line = QStringLiteral("waiting");
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

    QEventLoop loop;
    InterruptNotifier interrupt;
    connect(&interrupt, &InterruptNotifier::interrupted, this, [this](int signalNumber) {
        for (const auto& slot : m_slots) {
            Slot* s = slot.get();
            QMetaObject::invokeMethod(
                s->worker.get(),
                [s, signalNumber] {
                    if (s->run)
                        s->run->abort(signalNumber);
                },
                Qt::QueuedConnection);
        }
    });

    m_running = static_cast<int>(m_slots.size());
    for (int i = 0; i < static_cast<int>(m_slots.size()); ++i) {
        Slot* s = m_slots[i].get();
        s->worker = std::make_unique<QObject>();
        s->worker->moveToThread(&s->thread);
        s->thread.setObjectName(QStringLiteral("radio %1").arg(s->setup.port));
        s->thread.start();
        QMetaObject::invokeMethod(
            s->worker.get(),
            [this, i, s, &loop] {
                // Everything the run reports crosses to the main thread as a posted call.
                const auto post = [this](auto call) {
                    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
                };
                RadioRun::Events events;
                events.step = [this, i, post](Step step, const QString& detail) {
                    post([this, i, step, detail] {
                        m_slots[i]->progress->step(step, m_live ? QString() : detail);
                    });
                };
                events.writeBegins = [this, i, post](int blocks) {
                    post([this, i, blocks] { m_slots[i]->progress->writeBegins(blocks); });
                };
                events.blockWritten = [this, i, post](double seconds) {
                    post([this, i, seconds] { m_slots[i]->progress->blockWritten(seconds); });
                };
                events.trace = [this, i, post](const QString& lines) {
                    post([this, i, lines] { onTrace(i, lines); });
                };
                RadioRun run(s->setup, std::move(events));
                s->run = &run;
                const RunReport report = run.exec();
                s->run = nullptr;
                post([this, i, report, &loop] {
                    onFinished(i, report);
                    if (m_running == 0)
                        loop.quit();
                });
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
    }
    loop.exec();
    for (const auto& slot : m_slots)
        slot->thread.wait();

    if (m_live) {
        m_redraw->stop();
        redraw();
        // Advice waits until the lines drawn in place are done with.
        for (int i = 0; i < static_cast<int>(m_slots.size()); ++i) {
            for (const QString& line : std::as_const(m_slots[i]->report->advice))
                say(i, line);
        }
    }
    int status = exitstatus::Completed;
    QString out;
    for (const auto& slot : m_slots) {
        const RunReport& report = *slot->report;
        out += QStringLiteral("%1: %2\n").arg(report.port, messageFor(report.outcome));
        if (status == exitstatus::Completed)
            status = report.status;
    }
    writeOut(out);
    return status;
}

void Station::onTrace(int index, const QString& lines)
{
    const QString label = m_slots[index]->setup.port;
    QString text;
    for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        text += QStringLiteral("%1: %2\n").arg(label, line);
    writeErr(text);
}

void Station::onFinished(int index, const RunReport& report)
{
    Slot& slot = *m_slots[index];
    slot.report = report;
    --m_running;
    slot.progress->finish();
    QString ending = messageFor(report.outcome);
    if (report.outcome != Outcome::Completed)
        ending += QStringLiteral(" (%1 step)").arg(QString::fromLatin1(stepName(report.step)));
    if (m_live) {
        showLine(index, ending);
    } else if (!m_options.quiet) {
        say(index, ending);
        for (const QString& line : report.advice)
            say(index, line);
    }
    if (m_log) {
        QString error;
        if (!m_log->append(logLine(report), &error))
            writeErr(kPrefix + error + QLatin1Char('\n'));
    }
}

void Station::showLine(int index, const QString& text)
{
    m_slots[index]->line = text;
    m_dirty = true;
}

void Station::redraw()
{
    // One line per port, rewritten in place: up to the first, then each line over its old self.
    QString text;
    if (m_drawnLines > 0)
        text += QStringLiteral("\x1b[%1A").arg(m_drawnLines);
    for (const auto& slot : m_slots) {
        text += QStringLiteral("\r%1  %2\x1b[K\n")
                    .arg(slot->setup.port.leftJustified(m_labelWidth), slot->line);
    }
    m_drawnLines = static_cast<int>(m_slots.size());
    m_dirty = false;
    writeErr(text);
}

void Station::say(int index, const QString& text)
{
    writeErr(QStringLiteral("%1%2: %3\n").arg(kPrefix, m_slots[index]->setup.port, text));
}

} // namespace tqb9::cli
