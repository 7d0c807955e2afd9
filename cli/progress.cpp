#include "cli/progress.h"

#include <cmath>

namespace tqb9::cli {
namespace {

constexpr int kBlockBytes = 1024;
// A terminal redrawn more often than this only costs CPU; the eye cannot follow it.
constexpr double kRedrawSeconds = 0.1;

} // namespace

QString progressLine(int done, int total, double seconds)
{
    const int percent = total > 0 ? done * 100 / total : 100;
    QString line = QStringLiteral("write: %1/%2 blocks %3%").arg(done).arg(total).arg(percent, 3);
    if (const auto left = secondsLeft(done, total, seconds)) {
        const double rate = done * kBlockBytes / seconds;
        line +=
            QStringLiteral("  %1 B/s  %2 left").arg(std::lround(rate)).arg(minutesSeconds(*left));
    } else {
        line += QStringLiteral("  -- B/s  -:-- left");
    }
    return line;
}

void Progress::show(const QString& text, bool always)
{
    if (m_live) {
        // Pad over the rest of a longer line drawn before; no terminal escape codes needed.
        QString line = QLatin1Char('\r') + text;
        if (text.size() < m_drawn)
            line += QString(m_drawn - text.size(), QLatin1Char(' '));
        m_drawn = text.size();
        m_sink(line);
    } else if (always) {
        m_sink(QStringLiteral("tq-b9-cli: %1\n").arg(text));
    }
}

void Progress::step(Step step, const QString& detail)
{
    if (step == Step::Write)
        return; // writeBegins() says it with the block count
    QString text = QString::fromLatin1(stepName(step));
    if (!detail.isEmpty())
        text += QLatin1Char(' ') + detail;
    show(text, true);
}

void Progress::writeBegins(int blocks)
{
    m_total = blocks;
    m_done = 0;
    m_quarter = 0;
    m_lastDraw = -1;
    if (m_live)
        show(progressLine(0, m_total, 0), true);
    else
        show(QStringLiteral("write: %1 blocks to send").arg(blocks), true);
}

void Progress::blockWritten(double seconds)
{
    ++m_done;
    if (m_live) {
        if (m_done == m_total || m_lastDraw < 0 || seconds - m_lastDraw >= kRedrawSeconds) {
            m_lastDraw = seconds;
            show(progressLine(m_done, m_total, seconds), true);
        }
        return;
    }
    const int quarter = m_total > 0 ? m_done * 4 / m_total : 4;
    if (quarter > m_quarter) {
        m_quarter = quarter;
        show(progressLine(m_done, m_total, seconds), true);
    }
}

void Progress::finish()
{
    if (m_live && m_drawn > 0)
        m_sink(QStringLiteral("\n"));
    m_drawn = 0;
}

} // namespace tqb9::cli
