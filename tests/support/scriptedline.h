#pragma once

#include "link/serialline.h"
#include "sim/simradio.h"
#include "support/virtualclock.h"

namespace tqb9::testing {

// A serial line played in-process by the simulated radio on a virtual clock: the radio takes each
// write at once, and its echo and replies arrive as clock events, delays included. It vanishes
// when the radio hangs up, as a pulled cable does. Bytes that arrive while the line is closed
// are lost, as on a port nobody has open.
class ScriptedLine : public SerialLine {
    Q_OBJECT
public:
    ScriptedLine(VirtualClock& clock, sim::SimRadio& radio);
    ~ScriptedLine() override;

    bool open(const QString& device, const LineSettings& settings) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool write(QByteArrayView bytes) override;
    qint64 bytesWaiting() const override { return m_in.size(); }
    QByteArray readAll() override { return std::exchange(m_in, {}); }
    void discardInput() override { m_in.clear(); }

    // The device open() accepts.
    static inline const QString kDevice = QStringLiteral("scripted");

    // Faults of the line itself rather than the radio: the next write hands over only part of
    // its bytes; the next read error of the driver.
    void failNextWrite() { m_failNextWrite = true; }
    void failReadingAt(std::chrono::milliseconds delay);

private:
    void arrive(const QByteArray& bytes);
    void vanish();

    VirtualClock& m_clock;
    sim::SimRadio& m_radio;
    bool m_open = false;
    bool m_gone = false;
    bool m_failNextWrite = false;
    sim::LineSettings m_settings;
    QByteArray m_in;
};

} // namespace tqb9::testing
