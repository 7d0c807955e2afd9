#include "support/scriptedline.h"

#include <algorithm>

namespace tqb9::testing {
namespace {

sim::LineSettings asRadioSees(const LineSettings& s)
{
    constexpr char kParity[] = {'n', '?', 'e', 'o', 's', 'm'};
    const auto parity = static_cast<std::size_t>(s.parity);
    return {s.baudRate, parity < sizeof kParity ? kParity[parity] : '?',
            static_cast<int>(s.dataBits), s.stopBits == QSerialPort::TwoStop ? 2 : 1};
}

} // namespace

ScriptedLine::ScriptedLine(VirtualClock& clock, sim::SimRadio& radio)
    : m_clock(clock), m_radio(radio)
{
    m_radio.attach({[this](QByteArrayView bytes) { send(bytes); },
                    [this](std::chrono::milliseconds delay, std::function<void()> action) {
                        m_clock.schedule(delay, std::move(action));
                    },
                    [this] {
                        return m_settings;
                    }});
    connect(&m_radio, &sim::SimRadio::hungUp, this,
            [this] { m_clock.schedule(std::chrono::milliseconds{0}, [this] { vanish(); }); });
}

ScriptedLine::~ScriptedLine()
{
    m_radio.detach();
}

bool ScriptedLine::open(const QString& device, const LineSettings& settings)
{
    clearError();
    if (m_gone || device != kDevice) {
        setError(QSerialPort::DeviceNotFoundError,
                 QStringLiteral("%1: No such file or directory").arg(device));
        return false;
    }
    m_settings = asRadioSees(settings);
    m_open = true;
    return true;
}

bool ScriptedLine::write(QByteArrayView bytes)
{
    if (!m_open || error() != QSerialPort::NoError)
        return false;
    if (std::exchange(m_failNextWrite, false)) {
        m_radio.receive(bytes.first(bytes.size() / 2));
        setError(QSerialPort::WriteError, QStringLiteral("%1: short write").arg(kDevice));
        return false;
    }
    m_radio.receive(bytes);
    return true;
}

void ScriptedLine::failReadingAt(std::chrono::milliseconds delay)
{
    m_clock.schedule(delay, [this] {
        if (!m_open)
            return;
        setError(QSerialPort::ReadError, QStringLiteral("%1: read error").arg(kDevice));
        emit failed();
    });
}

void ScriptedLine::send(QByteArrayView bytes)
{
    if (!m_pacing) {
        m_clock.schedule(std::chrono::milliseconds{0},
                         [this, sent = bytes.toByteArray()] { arrive(sent); });
        return;
    }
    if (m_onTheLine.isEmpty()) {
        m_pace.restart(m_clock.now());
        m_clock.schedule(sim::Delivery::kUsbFrame, [this] { usbFrame(); });
    }
    m_onTheLine += bytes;
}

void ScriptedLine::usbFrame()
{
    const qint64 carried = std::clamp<qint64>(m_pace.due(m_clock.now()), 0, m_onTheLine.size());
    m_pace.handedOn += carried;
    arrive(m_onTheLine.first(carried));
    m_onTheLine.remove(0, carried);
    // The next frame by which the line has carried another byte.
    const auto next = std::chrono::ceil<std::chrono::milliseconds>(m_pace.nextAt());
    if (!m_onTheLine.isEmpty())
        m_clock.schedule(std::max(next - m_clock.now(), sim::Delivery::kUsbFrame),
                         [this] { usbFrame(); });
}

void ScriptedLine::arrive(const QByteArray& bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    m_in += bytes;
    if (!m_held || m_heldArrivals++ == 0)
        emit readyRead();
}

bool ScriptedLine::holdInput(bool hold)
{
    if (!m_open)
        return false;
    // Released, what the driver gathered unannounced is taken in at once, and announced.
    const bool gathered = m_held && m_heldArrivals > 1;
    m_held = hold;
    m_heldArrivals = 0;
    if (gathered)
        emit readyRead();
    return true;
}

void ScriptedLine::vanish()
{
    m_gone = true;
    if (!m_open)
        return;
    m_open = false;
    m_in.clear();
    m_onTheLine.clear();
    setError(QSerialPort::ResourceError,
             QStringLiteral("%1: the device has been removed").arg(kDevice));
    emit failed();
}

} // namespace tqb9::testing
