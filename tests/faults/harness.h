#pragma once

#include "run/session.h"
#include "sim/faultrule.h"
#include "sim/simradio.h"
#include "support/virtualclock.h"

#include <chrono>
#include <string>

namespace tqb9::faults {

// On a pseudo-terminal: short enough that a step timing out ten times costs 1.5 s, long enough
// that a loaded machine running the sanitizer build still gets an untroubled reply in time.
inline constexpr std::chrono::milliseconds kShortWindow{150};

// A simulated radio on COM1 and a session after its start-up load. Scripted: the radio plays an
// in-process line on a virtual clock with the real 5000 ms window, so timing faults run the same
// on any machine. Pty: the radio is on a pseudo-terminal and the window is real. The clock and
// the radio are declared first so the session, which may hold its port open, goes first.
struct Bench {
    enum class Line { Scripted, Pty };

    explicit Bench(Line line, std::chrono::milliseconds ptyWindow = kShortWindow);

    bool ready() const { return m_problem.isEmpty(); }
    // Lets the radio take in what is still on its way: the second half of a packet sent just as
    // a run gave up is part of that run, and so are late replies.
    void settle();
    // Pulls the cable as soon as the radio returns to the event loop.
    void hangUpSoon();
    bool portOpen() const { return session.portOpen(); }
    // One Start press on COM1.
    Outcome start() { return session.runStart(1, m_device); }
    std::string problem() const { return m_problem.toStdString(); }

    testing::VirtualClock clock;
    sim::SimRadio sim;
    Session session;
    // The steps the session entered, in order: "model query, connect, ...".
    std::string steps;

private:
    Line m_line;
    QString m_device;
    QString m_problem;
};

// Three 1 KB blocks of data: the first of the image (0xC0000), one in the middle (0xE0000) and
// the last one the write covers (0xFEC00), plus data in the top 4 KB, which is never sent.
MemoryImage threeBlocks();

// A request as received() names it.
std::string word(const sim::Request& request);

// The requests the radio received, one word each ("query", "erase", "C0000" for a program packet
// at 0xC0000), repeats written as "C0000*10".
std::string received(const sim::SimRadio& sim);

// How many steps a run ending in outcome has entered, and which, in the form of Bench::steps.
int stepsEntered(Outcome outcome);
std::string stepsUpTo(Outcome outcome);

std::string text(Outcome outcome);

// The radio's flash against the image over the range a run writes, 0xC0000..0xFEFFF.
bool flashMatchesImage(const sim::SimRadio& sim, const MemoryImage& image);

} // namespace tqb9::faults
