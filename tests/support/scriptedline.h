#pragma once

#include "link/serialline.h"
#include "sim/simradio.h"
#include "support/virtualclock.h"

namespace tqb9::testing {

// A serial line played in-process by the simulated radio on a virtual clock: the radio takes each
// write at once, and its echo and replies arrive as clock events, delays included, at once or at
// the line's pace. It vanishes when the radio hangs up, as a pulled cable does. Bytes that arrive
// while the line is closed are lost, as on a port nobody has open.
class ScriptedLine : public SerialLine {
    Q_OBJECT
public:
    ScriptedLine(VirtualClock& clock, sim::SimRadio& radio);
    ~ScriptedLine() override;

    bool open(const QString& device, const LineSettings& settings) override;
    void close() override { m_open = m_held = false; }
    bool isOpen() const override { return m_open; }
    bool write(QByteArrayView bytes) override;
    qint64 bytesWaiting() const override { return m_in.size(); }
    QByteArray readAll() override { return std::exchange(m_in, {}); }
    void discardInput() override { m_in.clear(); }
    bool holdInput(bool hold) override;

    // The device open() accepts.
    static inline const QString kDevice = QStringLiteral("scripted");

    // Faults of the line itself rather than the radio: the next write hands over only part of
    // its bytes; the next read error of the driver.
    void failNextWrite() { m_failNextWrite = true; }
    void failReadingAt(std::chrono::milliseconds delay);
    // The radio's bytes at the line's pace, handed over at the 1 ms frames of a USB adapter whose
    // latency is one frame, as the simulator delivers them to a pseudo-terminal.
    void setPacing(bool on) { m_pacing = on; }

private:
    void send(QByteArrayView bytes);
    void usbFrame();
    void arrive(const QByteArray& bytes);
    void vanish();

    VirtualClock& m_clock;
    sim::SimRadio& m_radio;
    bool m_open = false;
    bool m_gone = false;
    bool m_failNextWrite = false;
    bool m_pacing = false;
    // Held, arrivals stay with the driver and only the first is announced.
    bool m_held = false;
    int m_heldArrivals = 0;
    sim::LineSettings m_settings;
    QByteArray m_in;
    // Paced bytes the line has not carried yet, and the burst they belong to.
    QByteArray m_onTheLine;
    sim::LinePace m_pace;
};

} // namespace tqb9::testing
