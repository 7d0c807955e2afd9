#pragma once

#include "sim/simradio.h"

#include <chrono>
#include <QElapsedTimer>

namespace tqb9::faults {

// Long enough that a program which waited the window out after an unplugged cable could not
// pass for one that noticed.
inline constexpr std::chrono::milliseconds kLongWindow{5000};
// What noticing may take: the kernel's hang-up, Qt's error, closing the port, the message.
inline constexpr std::chrono::milliseconds kNoticeWithin{1000};
// Deep enough into the write that earlier blocks went through and later ones are still to come.
inline constexpr int kUnpluggedAtBlock = 100;

// Pulls the cable at the n-th program packet, and times from that moment.
class Unplug {
public:
    enum class When {
        InsidePacket,  // while the radio is still taking the packet in
        AwaitingReply, // once the program has its echo and waits for the radio's answer
    };

    Unplug(sim::SimRadio& radio, int block, When when = When::InsidePacket);
    // Since the radio hung up; -1 if it never did.
    qint64 elapsedMs() const { return m_since.isValid() ? m_since.elapsed() : -1; }

private:
    QElapsedTimer m_since;
};

} // namespace tqb9::faults
