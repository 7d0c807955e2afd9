#pragma once

#include "run/run.h"

#include <functional>
#include <QString>

namespace tqb9::cli {

// "write: 37/250 blocks  14%  5612 B/s  0:38 left". seconds is the time since the write began;
// bytes are the firmware bytes written, 1 KB per block.
QString progressLine(int done, int total, double seconds);

// Progress of a run on standard error. On a terminal it is one line redrawn in place; anywhere
// else (a log, a pipe, CI) a few plain lines: each step and every quarter of the write, with no
// control characters.
class Progress {
public:
    using Sink = std::function<void(const QString&)>;

    Progress(bool live, Sink sink) : m_live(live), m_sink(std::move(sink)) {}

    void step(Step step, const QString& detail = {});
    void writeBegins(int blocks);
    void blockWritten(double seconds);
    // Ends the live line, so what follows starts on a line of its own.
    void finish();

    int blocksDone() const { return m_done; }
    int blocksTotal() const { return m_total; }

private:
    void show(const QString& text, bool always);

    bool m_live;
    Sink m_sink;
    int m_total = 0;
    int m_done = 0;
    int m_quarter = 0;
    qsizetype m_drawn = 0;  // width of the live line on screen
    double m_lastDraw = -1; // seconds of the last redraw during the write
};

} // namespace tqb9::cli
