#pragma once

#include "sim/transport.h"

namespace tqb9::sim {

// A serial line the radio is played on in-process, as a test keeps it: the radio's bytes go to
// toProgram, and delays are measured by after() on whatever clock the line keeps.
struct Wire {
    std::function<void(QByteArrayView)> toProgram;
    std::function<void(std::chrono::milliseconds, std::function<void()>)> after;
    std::function<LineSettings()> line;
};

// The radio on a Wire. No pacing: the line decides when bytes arrive.
class WireTransport final : public Transport {
public:
    explicit WireTransport(Wire wire) : m_wire(std::move(wire)) {}

    bool isOpen() const override { return m_open; }
    void close() override { m_open = false; }
    LineSettings lineSettings() const override { return m_wire.line(); }
    void send(QByteArrayView bytes) override { m_wire.toProgram(bytes); }
    void after(std::chrono::milliseconds delay, std::function<void()> action) override
    {
        m_wire.after(delay, std::move(action));
    }
    // The line hands bytes over in the order given, so what comes after them comes later.
    void whenDrained(std::function<void()> action) override
    {
        if (m_open)
            m_wire.after(std::chrono::milliseconds{0}, std::move(action));
    }

private:
    Wire m_wire;
    bool m_open = true;
};

} // namespace tqb9::sim
