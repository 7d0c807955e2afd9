#include "ui/porttile.h"

#include "ui/wording.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tqb9 {
namespace {

const QColor kGreen(0x00, 0x80, 0x00);
const QColor kRed(0xC0, 0x00, 0x00);

void paint(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText,
                     color.isValid() ? color
                                     : QApplication::palette(label).color(QPalette::WindowText));
    label->setPalette(palette);
}

} // namespace

PortTile::PortTile(Run::Setup setup, const QString& device, PortWatch::Timing timing,
                   QWidget* parent)
    : QFrame(parent), m_setup(std::move(setup)), m_timing(timing)
{
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("tile %1").arg(m_setup.port));

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

    m_state = new QLabel(this);
    QFont big = m_state->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    m_state->setFont(big);

    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    m_bar->setMaximumHeight(m_bar->sizeHint().height() * 2 / 3);
    // Appearing and going, the bar does not move the lines below it.
    QSizePolicy keep = m_bar->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_bar->setSizePolicy(keep);
    m_detail = new QLabel(this);
    m_counts = new QLabel(this);

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
    column->addWidget(m_state);
    column->addWidget(m_bar);
    column->addWidget(m_detail);
    column->addWidget(m_counts);
    column->addLayout(buttons);
    // Texts change many times a minute; the tile's size never follows them.
    setFixedWidth(kWidth);
    for (QLabel* label : {m_state, m_detail, m_counts}) {
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    setFirmware(m_setup.firmware);
    refresh();
}

PortTile::~PortTile() = default;

void PortTile::setFirmware(const Firmware& firmware)
{
    m_setup.firmware = firmware;
    makeWatch();
}

void PortTile::makeWatch()
{
    m_watch = std::make_unique<PortWatch>(m_setup, m_timing);
    PortWatch* watch = m_watch.get();
    connect(watch, &PortWatch::stateChanged, this, [this](PortWatch::State state) {
        // A new radio, or a new run: what the last one left is done with.
        if (state == PortWatch::State::Waiting || state == PortWatch::State::Writing) {
            m_outcome.reset();
            m_step = Step::Query;
            m_blocksDone = 0;
            m_blocksTotal = 0;
        }
        emit stateChanged(state);
        emit changed();
    });
    connect(watch, &PortWatch::stepStarted, this, [this](Step step, const QString&) {
        m_step = step;
        emit changed();
    });
    connect(watch, &PortWatch::writeBegins, this, [this](int blocks) {
        m_step = Step::Write;
        m_blocksTotal = blocks;
        m_blocksDone = 0;
        m_writeSeconds = 0;
        emit changed();
    });
    connect(watch, &PortWatch::blockWritten, this, [this](double seconds) {
        ++m_blocksDone;
        m_writeSeconds = seconds;
        emit changed();
    });
    connect(watch, &PortWatch::runFinished, this, [this](const RunReport& report) {
        m_outcome = report;
        if (report.outcome == Outcome::Completed)
            ++m_completed;
        else
            ++m_failed;
        emit runFinished(report);
        emit changed();
    });
}

void PortTile::refresh()
{
    const PortWatch::State state = m_watch->state();
    const bool writing = state == PortWatch::State::Writing;
    QString text;
    QString detail;
    QColor color;
    QString tip;
    if (writing) {
        text = QStringLiteral("Writing");
        if (m_step == Step::Write && m_blocksTotal > 0) {
            const std::vector<std::uint32_t>& blocks = m_setup.firmwareToWrite().blocks();
            const auto going = static_cast<std::size_t>(std::min(m_blocksDone, m_blocksTotal - 1));
            if (going < blocks.size())
                detail = QStringLiteral("block %1").arg(addressText(blocks[going]));
            if (const auto left = secondsLeft(m_blocksDone, m_blocksTotal, m_writeSeconds))
                detail += QStringLiteral(", %1 left").arg(minutesSeconds(*left));
        } else {
            detail = QString::fromLatin1(stepName(m_step));
        }
    } else if (m_outcome && state != PortWatch::State::Waiting) {
        const RunReport& report = *m_outcome;
        text = messageFor(report.outcome);
        const bool completed = report.outcome == Outcome::Completed;
        color = completed ? kGreen : kRed;
        if (!completed) {
            detail = QStringLiteral("%1 step").arg(QString::fromLatin1(stepName(report.step)));
            if (report.writeStoppedAt)
                detail += QStringLiteral(", block %1")
                              .arg(addressText(static_cast<std::uint32_t>(*report.writeStoppedAt)));
        }
        if (state == PortWatch::State::Held)
            detail += (detail.isEmpty() ? QString() : QStringLiteral("; ")) +
                      QStringLiteral("remove the radio");
        tip = windowAdvice(report).join(QLatin1Char('\n'));
    } else {
        switch (state) {
        case PortWatch::State::Idle:
            text = QStringLiteral("Idle");
            break;
        case PortWatch::State::Waiting:
            text = QStringLiteral("Waiting for a radio");
            break;
        case PortWatch::State::Held:
            text = QStringLiteral("Remove the radio");
            break;
        case PortWatch::State::Vanished:
            text = QStringLiteral("Port not present");
            detail = QStringLiteral("waiting for it to come back");
            color = kRed;
            break;
        case PortWatch::State::Writing:
            break;
        }
    }
    if (m_state->text() != text)
        m_state->setText(text);
    paint(m_state, color);
    m_state->setToolTip(tip);
    if (m_detail->text() != detail)
        m_detail->setText(detail);

    m_bar->setVisible(writing);
    m_bar->setRange(0, std::max(m_blocksTotal, 1));
    m_bar->setValue(writing ? m_blocksDone : 0);

    const QString counts =
        QStringLiteral("completed %1 · failed %2").arg(m_completed).arg(m_failed);
    if (m_counts->text() != counts)
        m_counts->setText(counts);
    m_start->setEnabled(!writing);
    m_stop->setEnabled(state != PortWatch::State::Idle);
    m_remove->setEnabled(state == PortWatch::State::Idle);
}

} // namespace tqb9
