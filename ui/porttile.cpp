#include "ui/porttile.h"

#include "link/portmap.h"
#include "ui/wording.h"

#include <algorithm>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace tqb9 {
namespace {

// Where Linux names each serial adapter by the USB socket it is plugged into; absent elsewhere,
// where nothing is found there.
const QString kByPath = QStringLiteral("/dev/serial/by-path");
// Asking the system for its serial ports costs tens of milliseconds of CPU; sixteen tiles made at
// once, or sixteen runs ending together, share one answer with the ports' own lookups.
constexpr std::chrono::seconds kPortsFreshFor{2};

// The adapter behind device as the system knows it, so a cable can be labelled with what its tile
// shows: the description and serial number the adapter reports, and the by-path name that links
// to it. Empty for a pseudo-terminal or a port the system says nothing about.
QString cableText(const QString& device)
{
    if (device.isEmpty())
        return {};
    const QString target = QFileInfo(device).canonicalFilePath();
    // A pseudo-terminal has no adapter behind it, and the system lists none.
    if (target.startsWith(QLatin1String("/dev/pts/")))
        return {};
    QStringList parts;
    for (const QSerialPortInfo& info : PortMap::recentSystemPorts(kPortsFreshFor)) {
        const bool same =
            info.systemLocation() == device || info.portName() == device ||
            (!target.isEmpty() && QFileInfo(info.systemLocation()).canonicalFilePath() == target);
        if (!same)
            continue;
        if (!info.description().isEmpty())
            parts << info.description();
        if (!info.serialNumber().isEmpty())
            parts << QStringLiteral("serial %1").arg(info.serialNumber());
        break;
    }
    if (!target.isEmpty()) {
        const QFileInfoList links =
            QDir(kByPath).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& link : links) {
            if (link.canonicalFilePath() == target) {
                parts << link.fileName();
                break;
            }
        }
    }
    return parts.join(QStringLiteral(" · "));
}

// The ending in the tile's largest type: the window's own message, or that the run was stopped,
// which is no failure.
QString endingText(const RunReport& report)
{
    return PortTile::endingOf(report) == PortTile::Ending::Stopped ? QStringLiteral("Stopped")
                                                                   : messageFor(report.outcome);
}

QString blockText(const RunReport& report)
{
    return report.writeStoppedAt
               ? QStringLiteral(", block %1")
                     .arg(addressText(static_cast<std::uint32_t>(*report.writeStoppedAt)))
               : QString();
}

void setText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

PortTile::Ending PortTile::endingOf(const RunReport& report)
{
    if (report.outcome == Outcome::Completed)
        return Ending::Completed;
    return report.stoppedBy == StoppedBy::Nobody ? Ending::Failed : Ending::Stopped;
}

PortTile::Ending PortTile::Tally::add(const RunReport& report)
{
    const Ending ending = endingOf(report);
    switch (ending) {
    case Ending::Completed:
        ++completed;
        break;
    case Ending::Failed:
        ++failed;
        break;
    case Ending::Stopped:
        ++stopped;
        break;
    }
    return ending;
}

QColor PortTile::background(Look look)
{
    switch (look) {
    case Look::Plain:
        break;
    case Look::Waiting:
        return {0xDD, 0xE6, 0xF0};
    case Look::Writing:
        return {0x1F, 0x5F, 0xAF};
    case Look::Completed:
        return {0x1B, 0x7A, 0x2E};
    case Look::Failed:
        return {0xB3, 0x20, 0x1C};
    case Look::Stopped:
        return {0xA8, 0xA8, 0xA8};
    case Look::Held:
        return {0xF0, 0xC0, 0x20};
    case Look::Absent:
        return {0xD8, 0xD8, 0xD8};
    }
    return QApplication::palette().color(QPalette::Window);
}

QColor PortTile::foreground(Look look)
{
    switch (look) {
    case Look::Writing:
    case Look::Completed:
    case Look::Failed:
        return Qt::white;
    case Look::Waiting:
    case Look::Stopped:
    case Look::Held:
    case Look::Absent:
        return Qt::black;
    case Look::Plain:
        break;
    }
    return QApplication::palette().color(QPalette::WindowText);
}

PortTile::PortTile(Run::Setup setup, const QString& device, PortWatch::Timing timing,
                   QWidget* parent)
    : QFrame(parent), m_setup(std::move(setup)), m_timing(timing)
{
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("tile %1").arg(m_setup.port));
    setAutoFillBackground(true);

    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    const QString port = m_setup.port;
    m_title->setText(
        device.isEmpty() || device == port ? port : QStringLiteral("%1  %2").arg(port, device));
    m_title->setToolTip(m_title->text());
    m_remove = new QPushButton(QStringLiteral("Remove"), this);
    m_remove->setToolTip(QStringLiteral("Take this port off the station"));
    connect(m_remove, &QPushButton::clicked, this, &PortTile::removePressed);

    m_cable = new QLabel(this);
    m_cable->setTextFormat(Qt::PlainText);
    m_cable->setWordWrap(true);
    m_state = new QLabel(this);
    m_state->setTextFormat(Qt::PlainText);
    m_state->setWordWrap(true);
    QFont big = m_state->font();
    big.setBold(true);
    m_state->setFont(big);

    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    // Appearing and going, the bar does not move the lines below it.
    QSizePolicy keep = m_bar->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_bar->setSizePolicy(keep);
    m_detail = new QLabel(this);
    m_time = new QLabel(this);
    m_advice = new QLabel(this);
    m_advice->setWordWrap(true);
    m_advice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_counts = new QLabel(this);
    for (QLabel* label : {m_detail, m_time, m_advice, m_counts})
        label->setTextFormat(Qt::PlainText);

    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    connect(m_start, &QPushButton::clicked, this, &PortTile::startPressed);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_watch->stop(); });

    auto* top = new QHBoxLayout;
    top->addWidget(m_title, 1);
    top->addWidget(m_remove);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(m_cable);
    column->addWidget(m_state);
    column->addWidget(m_bar);
    column->addWidget(m_detail);
    column->addWidget(m_time);
    column->addWidget(m_advice, 1);
    column->addWidget(m_counts);
    column->addLayout(buttons);
    // Tiles share the window's room; the texts, which change many times a minute, never size them.
    setMinimumSize(kWidth, kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    for (QLabel* label : {m_title, m_cable, m_state, m_detail, m_time, m_advice, m_counts}) {
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored,
                             label == m_advice ? QSizePolicy::Expanding : QSizePolicy::Preferred);
    }

    m_quiet.setInterval(kQuietAfter);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        // Repeats while nothing comes, so the elapsed time goes on counting too.
        m_waitingForAnswer = true;
        emit changed();
    });

    showCable(device);
    setFirmware(m_setup.firmware);
    fitStateFont();
    refresh();
}

PortTile::~PortTile() = default;

void PortTile::setFirmware(const Firmware& firmware)
{
    m_setup.firmware = firmware;
    makeWatch();
}

void PortTile::showCable(const QString& device)
{
    m_cableDevice = device;
    const QString text = cableText(device);
    m_cable->setText(text);
    m_cable->setToolTip(text);
    m_cable->setVisible(!text.isEmpty());
}

void PortTile::progressed()
{
    m_waitingForAnswer = false;
    m_unanswered = 0;
    m_quiet.start();
}

void PortTile::makeWatch()
{
    m_watch = std::make_unique<PortWatch>(m_setup, m_timing);
    m_watchState = m_watch->state();
    PortWatch* watch = m_watch.get();
    connect(watch, &PortWatch::stateChanged, this, [this](PortWatch::State state) {
        m_watchState = state;
        if (state == PortWatch::State::Writing) {
            // The next radio's run: what the last one left is done with.
            m_outcome.reset();
            m_step = Step::Query;
            m_blocksDone = 0;
            m_blocksTotal = 0;
            m_writeSeconds = 0;
            m_runClock.start();
            progressed();
        } else {
            m_quiet.stop();
            m_waitingForAnswer = false;
        }
        // Asked for and not answered: the radio the outcome is about has gone.
        if (state == PortWatch::State::Waiting || state == PortWatch::State::Vanished)
            m_outcomeRadioGone = true;
        emit stateChanged(state);
        emit changed();
    });
    connect(watch, &PortWatch::stepStarted, this, [this](Step step, const QString&) {
        m_step = step;
        progressed();
        emit changed();
    });
    connect(watch, &PortWatch::writeBegins, this, [this](int blocks) {
        m_step = Step::Write;
        m_blocksTotal = blocks;
        m_blocksDone = 0;
        m_writeSeconds = 0;
        progressed();
        emit changed();
    });
    connect(watch, &PortWatch::blockWritten, this, [this](double seconds) {
        ++m_blocksDone;
        m_writeSeconds = seconds;
        progressed();
        emit changed();
    });
    // A radio taken off shows at its first unanswered window, while the step still tries again:
    // a slow radio may yet answer, and then the tile goes back to its progress.
    connect(watch, &PortWatch::unanswered, this, [this](Step step) {
        m_step = step;
        ++m_unanswered;
        emit changed();
    });
    connect(watch, &PortWatch::runFinished, this, [this](const RunReport& report) {
        m_outcome = report;
        m_outcomeRadioGone = false;
        m_quiet.stop();
        m_waitingForAnswer = false;
        m_tally.add(report);
        // A COM number follows the adapters as they come and go: name the one this run had.
        if (!report.device.isEmpty() && report.device != m_cableDevice)
            showCable(report.device);
        emit runFinished(report);
        emit changed();
    });
}

void PortTile::refresh()
{
    using State = PortWatch::State;
    const State state = m_watchState;
    const bool writing = state == State::Writing;
    QString text;
    QString detail;
    QString time;
    QString advice;
    Look look = Look::Plain;
    if (writing) {
        look = Look::Writing;
        text = QStringLiteral("Writing");
        // The block going out now, counted from one.
        const QString blockOf = m_step == Step::Write && m_blocksTotal > 0
                                    ? QStringLiteral("block %1 of %2")
                                          .arg(std::min(m_blocksDone + 1, m_blocksTotal))
                                          .arg(m_blocksTotal)
                                    : QString();
        if (!blockOf.isEmpty()) {
            detail =
                QStringLiteral("%1 · %2 %").arg(blockOf).arg(m_blocksDone * 100 / m_blocksTotal);
        } else {
            detail = QStringLiteral("%1 step").arg(QString::fromLatin1(stepName(m_step)));
        }
        const double elapsed = m_runClock.isValid() ? m_runClock.elapsed() / 1000.0 : 0;
        time = QStringLiteral("%1 elapsed").arg(minutesSeconds(elapsed));
        if (m_step == Step::Write) {
            if (const auto left = secondsLeft(m_blocksDone, m_blocksTotal, m_writeSeconds))
                time += QStringLiteral(" · %1 left").arg(minutesSeconds(*left));
        }
        if (m_unanswered > 0) {
            look = Look::Failed;
            text = QStringLiteral("No answer");
            detail = QStringLiteral("%1 step%2, unanswered %3")
                         .arg(QString::fromLatin1(stepName(m_step)),
                              blockOf.isEmpty() ? QString() : QStringLiteral(", ") + blockOf,
                              m_unanswered == 1 ? QStringLiteral("once")
                                                : QStringLiteral("%1 times").arg(m_unanswered));
            advice = QStringLiteral("Trying again. Is the radio on its cable and switched on? "
                                    "Press Stop to give up.");
        } else if (m_waitingForAnswer) {
            advice = QStringLiteral("Waiting for the radio's answer...");
        }
    } else if (m_outcome && !(state == State::Held && m_outcomeRadioGone)) {
        const RunReport& report = *m_outcome;
        const QString step = QString::fromLatin1(stepName(report.step));
        text = endingText(report);
        switch (endingOf(report)) {
        case Ending::Completed:
            look = Look::Completed;
            break;
        case Ending::Failed:
            look = Look::Failed;
            detail = QStringLiteral("%1 step%2").arg(step, blockText(report));
            break;
        case Ending::Stopped:
            look = Look::Stopped;
            detail = (report.stoppedBy == StoppedBy::Operator
                          ? QStringLiteral("by the operator")
                          : QStringLiteral("by %1").arg(stopName(report.stoppedBy))) +
                     QStringLiteral(", %1 step%2").arg(step, blockText(report));
            break;
        }
        advice = windowAdvice(report).join(QLatin1Char('\n'));
        time = QStringLiteral("after %1").arg(minutesSeconds(report.seconds));
        switch (state) {
        case State::Held:
            time += QStringLiteral(" · remove the radio");
            break;
        case State::Waiting:
            time += QStringLiteral(" · waiting for the next radio");
            break;
        case State::Vanished:
            time += QStringLiteral(" · port not present");
            break;
        case State::Idle:
        case State::Writing:
            break;
        }
    } else {
        switch (state) {
        case State::Idle:
            text = QStringLiteral("Idle");
            break;
        case State::Waiting:
            look = Look::Waiting;
            text = QStringLiteral("Waiting for a radio");
            break;
        case State::Held:
            look = Look::Held;
            text = QStringLiteral("On the cable, not written: remove it, or press Start");
            break;
        case State::Vanished:
            look = Look::Absent;
            text = QStringLiteral("Port not present");
            detail = QStringLiteral("waiting for it to come back");
            break;
        case State::Writing:
            break;
        }
        if (m_outcome)
            time = QStringLiteral("last radio: %1").arg(endingText(*m_outcome));
    }
    setLook(look);
    if (m_state->text() != text) {
        m_state->setText(text);
        fitStateFont();
    }
    if (m_state->toolTip() != advice)
        m_state->setToolTip(advice);
    // Wrapped, a label lays its tile out again at every change: not for each block written.
    if (m_detail->wordWrap() == writing)
        m_detail->setWordWrap(!writing);
    setText(m_detail, detail);
    setText(m_time, time);
    setText(m_advice, advice);

    m_bar->setVisible(writing);
    m_bar->setRange(0, std::max(m_blocksTotal, 1));
    m_bar->setValue(writing ? m_blocksDone : 0);

    setText(m_counts, QStringLiteral("completed %1 · failed %2 · stopped %3")
                          .arg(m_tally.completed)
                          .arg(m_tally.failed)
                          .arg(m_tally.stopped));
    m_start->setEnabled(!writing);
    m_stop->setEnabled(state != State::Idle);
    m_remove->setEnabled(state == State::Idle);
}

void PortTile::setLook(Look look)
{
    if (look == m_look)
        return;
    m_look = look;
    // Set only as the look changes: a new palette repolishes every child.
    QPalette palette = QApplication::palette(this);
    palette.setColor(QPalette::Window, background(look));
    palette.setColor(QPalette::WindowText, foreground(look));
    setPalette(palette);
}

void PortTile::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    fitStateFont();
}

void PortTile::fitStateFont()
{
    // About ten capitals across the tile, read at three metres on a 1920-pixel screen; a sentence
    // smaller, so it still fits in a few lines.
    const int base = std::clamp(std::min(width() / 10, height() / 7), 20, 64);
    const int pixels = m_state->text().size() > 20 ? base * 3 / 5 : base;
    QFont font = m_state->font();
    if (font.pixelSize() != pixels) {
        font.setPixelSize(pixels);
        m_state->setFont(font);
    }
    QFont medium = m_detail->font();
    const int mediumPixels = std::max(14, base / 2);
    if (medium.pixelSize() != mediumPixels) {
        medium.setPixelSize(mediumPixels);
        m_detail->setFont(medium);
        m_time->setFont(medium);
    }
}

} // namespace tqb9
