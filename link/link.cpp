#include "link/link.h"

#include "link/portmap.h"
#include "link/portmenu.h"
#include "link/reply.h"

#include <algorithm>
#include <limits>
#include <QEventLoop>
#include <QMetaMethod>

namespace tqb9 {
namespace {

constexpr char kCr = '\r';
// What an exchange's nested event loop returns when one of our own events woke it. Anything else
// means the application asked every loop to exit.
constexpr int kWoken = 1;

const QByteArray kModelQuery = QByteArrayLiteral("ZK~TQ-B9E");
const QByteArray kConnect = QByteArrayLiteral("ZK~FLASH");

} // namespace

Link::Link(const PortMenu& menu, const PortMap& ports, QObject* parent)
    : QObject(parent), m_menu(menu), m_comm(ports, this)
{
    // The default coarse timer may fire up to 5% early; the radio is promised the full window.
    m_timer1.setTimerType(Qt::PreciseTimer);
    m_timer1.setSingleShot(true);
    m_timer1.setInterval(kDefaultInterval);
    connect(&m_timer1, &QTimer::timeout, this, &Link::Timer1_Timer);
}

void Link::Timer1_Timer()
{
    m_timer1.stop();
}

void Link::applySettings()
{
    m_comm.setSettings(kLineSettings);
}

void Link::openIfClosed()
{
    if (m_comm.PortOpen())
        return;
    m_comm.setCommPort(m_menu.GetCOM());
    m_comm.setPortOpen(true);
}

void Link::closeIfOpen() noexcept
{
    if (m_comm.PortOpen())
        m_comm.setPortOpen(false);
}

void Link::abort(const QString& reason)
{
    m_abortReason = reason.isEmpty() ? QStringLiteral("interrupted") : reason;
    emit interrupted();
}

void Link::noteError(const std::exception& error)
{
    m_lastError = QString::fromLocal8Bit(error.what());
    const auto* serial = dynamic_cast<const SerialError*>(&error);
    m_lastErrorKind = serial ? serial->kind() : QSerialPort::UnknownError;
}

void Link::clearLastError()
{
    m_lastError.clear();
    m_lastErrorKind = QSerialPort::NoError;
}

void Link::reportExchange(QByteArrayView sent, QByteArrayView received, std::int16_t code)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&Link::exchanged)))
        emit exchanged(sent.toByteArray(), received.toByteArray(), code);
}

void Link::waitFor(qint64 count)
{
    while (m_timer1.isActive()) {
        if (aborted())
            throw SerialError(m_abortReason, QSerialPort::UnknownError);
        // readyRead fires only for new bytes, so what is already waiting must be counted first.
        if (m_comm.InBufferCount() >= count)
            return;

        QEventLoop loop;
        const auto wake = [&loop] {
            loop.exit(kWoken);
        };
        connect(&m_comm, &SerialControl::bytesArrived, &loop, wake);
        connect(&m_comm, &SerialControl::failed, &loop, wake);
        connect(&m_timer1, &QTimer::timeout, &loop, wake);
        connect(this, &Link::interrupted, &loop, wake);
        if (loop.exec() != kWoken && !aborted())
            abort(QStringLiteral("the program is closing"));
    }
    if (aborted())
        throw SerialError(m_abortReason, QSerialPort::UnknownError);
    // A port that failed while the window was running out must still end as an error.
    m_comm.InBufferCount();
}

std::int16_t Link::textExchange(const QByteArray& command, qsizetype awaited, Recogniser recognise)
{
    const QByteArray text = command + kCr;
    const qsizetype replyAt = text.size();
    std::int16_t result = reply::None;
    m_rxBuf.clear();
    try {
        applySettings();
        openIfClosed();
        // A reply that arrived after an earlier window closed would sit in front of this one and
        // shift it off its position.
        m_comm.discardInput();
        m_comm.Output(text);
        m_timer1.start();
        waitFor(awaited);
        m_timer1.stop();
        const qint64 received = m_comm.InBufferCount();
        m_rxBuf = m_comm.Input();
        if (received >= awaited)
            result = recognise(m_rxBuf, replyAt);
    } catch (const std::exception& error) {
        noteError(error);
        result = reply::None;
    }
    m_timer1.stop();
    closeIfOpen();
    reportExchange(text, m_rxBuf, result);
    return result;
}

std::int16_t Link::QueryModel()
{
    const std::int16_t code =
        textExchange(kModelQuery, kModelQuery.size() + 1 + 6, &ParseFramedReply);
    return code == reply::OK || code == reply::RE ? code : reply::None;
}

std::int16_t Link::ConnectRadio()
{
    const std::int16_t code = textExchange(kConnect, kConnect.size() + 1 + 4, &ParseReply);
    return code == reply::OK || code == reply::CT ? code : reply::None;
}

std::int16_t Link::SendBlock(QByteArrayView bytPacket)
{
    Q_ASSERT(bytPacket.size() == kPacketSize);
    QByteArray collected;
    qint64 count = 0;
    const auto take = [&] {
        count += m_comm.InBufferCount();
        collected += m_comm.Input();
    };
    try {
        applySettings();
        m_comm.discardInput();
        // The radio takes a packet in two pieces: the copy of the first half must be back before
        // the second half goes out. One window covers both.
        m_comm.Output(bytPacket.first(kFirstHalf));
        m_timer1.start();
        waitFor(kFirstHalf);
        if (m_comm.InBufferCount() >= kFirstHalf)
            take();
        // Sent even when the window has closed: the radio expects the whole packet.
        m_comm.Output(bytPacket.sliced(kFirstHalf));
        constexpr qint64 kSecondPiece = kSecondHalf + 4;
        while (count < kPacketAwaited && m_timer1.isActive()) {
            waitFor(kSecondPiece);
            if (m_comm.InBufferCount() >= kSecondPiece)
                take();
        }
    } catch (...) {
        m_timer1.stop();
        m_rxBuf = collected;
        throw;
    }
    m_timer1.stop();
    m_rxBuf = collected;
    return static_cast<std::int16_t>(
        std::min<qint64>(count, std::numeric_limits<std::int16_t>::max()));
}

} // namespace tqb9
