#include "link/link.h"

#include "link/qserialportline.h"
#include "link/reply.h"

#include <algorithm>
#include <limits>
#include <QEventLoop>
#include <QMetaMethod>
#include <QScopeGuard>

namespace tqb9 {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
// Holding input back pays when it saves at least this much of the line's time: a shorter hold
// costs its own wake and saves at most one of a USB adapter's 1 ms deliveries.
constexpr std::chrono::microseconds kHoldOffWorthIt{2000};
// A hold ends this much before the line can have carried the rest, so the wait that follows
// catches the last bytes as they come instead of finding them late.
constexpr std::chrono::microseconds kHoldOffMargin{1000};
// How far ahead of the line's pace, counted from the wait's start, bytes may be and still be taken
// for a line: a radio's echo cannot come back faster than it went out, so this only covers the
// moment between sending and the wait's start and a device's rounding. Anything further ahead
// comes from a device that has it all at once (a pseudo-terminal, a radio that writes each echo
// and its reply as soon as it has them), and holding it would sleep with the reply in the driver.
constexpr qint64 kBurstSlack = 8;

const QByteArray kModelQuery = QByteArrayLiteral("ZK~TQ-B9E");
const QByteArray kConnect = QByteArrayLiteral("ZK~FLASH");

// Whether what followed a packet's echo shows that attempt answered. At most once per attempt,
// and only when it ends as a reply ends: junk on the line can hold an LF, and a late reply to
// an earlier attempt can share the tail with this one's, so counting line ends would take one
// reply for two and let a reply still owed pass as the next packet's answer. Counting too few
// only costs a wait.
int answers(QByteArrayView tail)
{
    return tail.endsWith(QByteArrayView("\r\n")) ? 1 : 0;
}

} // namespace

// Opens the line on the run's device with the line settings, and closes it, and the window, on
// every path out of the operation.
class Link::PortFrame {
public:
    explicit PortFrame(Link& link) : m_link(link)
    {
        SerialLine& line = *link.m_line;
        // The settings never change, but a malformed text must fail here, not half-way.
        const LineSettings settings = LineSettings::parse(kLineSettings);
        if (link.m_device.isEmpty()) {
            throw SerialError(
                QStringLiteral("%1: no such serial port")
                    .arg(link.m_label.isEmpty() ? QStringLiteral("port") : link.m_label),
                QSerialPort::DeviceNotFoundError);
        }
        if (link.m_keepPortOpen && line.isOpen()) {
            if (line.error() == QSerialPort::NoError)
                return;
            line.close();
        }
        if (!line.open(link.m_device, settings))
            throw SerialError(line.errorString(), line.error());
    }
    ~PortFrame()
    {
        m_link.m_window->close();
        if (!m_link.m_keepPortOpen || m_link.aborted() ||
            m_link.m_line->error() != QSerialPort::NoError)
            m_link.m_line->close();
    }
    PortFrame(const PortFrame&) = delete;
    PortFrame& operator=(const PortFrame&) = delete;

private:
    Link& m_link;
};

Link::Link(QObject* parent) : QObject(parent)
{
    setLine(std::make_unique<QSerialPortLine>());
    setWindow(std::make_unique<PreciseWindow>());
    // A start bit, the data bits, the parity bit if any and the stop bits make one byte.
    const LineSettings line = LineSettings::parse(kLineSettings);
    const double stop = line.stopBits == QSerialPort::OneStop          ? 1
                        : line.stopBits == QSerialPort::OneAndHalfStop ? 1.5
                                                                       : 2;
    m_bytesPerSecond =
        line.baudRate / (1 + line.dataBits + (line.parity == QSerialPort::NoParity ? 0 : 1) + stop);
}

Link::~Link() = default;

void Link::setLine(std::unique_ptr<SerialLine> line)
{
    m_line = std::move(line);
}

void Link::setWindow(std::unique_ptr<ReplyWindow> window)
{
    m_window = std::move(window);
    m_holdOff = m_window->another();
}

void Link::setDevice(const QString& device, const QString& label)
{
    if (device != m_device)
        closePort();
    m_device = device;
    m_label = label;
}

void Link::closePort()
{
    m_window->close();
    m_line->close();
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

std::int16_t Link::inPortFrame(std::int16_t failure, const std::function<std::int16_t()>& body)
{
    m_attemptsSent = 0;
    m_repliesSeen = 0;
    try {
        const PortFrame frame(*this);
        return body();
    } catch (const std::exception& error) {
        noteError(error);
        return failure;
    }
}

void Link::throwIfFailed() const
{
    if (aborted())
        throw SerialError(m_abortReason, QSerialPort::UnknownError);
    if (m_line->error() != QSerialPort::NoError)
        throw SerialError(m_line->errorString(), m_line->error());
    if (!m_line->isOpen())
        throw SerialError(QStringLiteral("the port is not open"), QSerialPort::NotOpenError);
}

std::chrono::microseconds Link::lineTime(qint64 bytes) const
{
    return std::chrono::microseconds(
        static_cast<qint64>(1e6 * static_cast<double>(bytes) / m_bytesPerSecond));
}

void Link::openWindow(std::chrono::milliseconds span)
{
    m_window->open(span);
    m_windowEnds = m_window->now() + span;
}

void Link::waitFor(qint64 count)
{
    // Until the line can have carried what is awaited, each piece of it arriving (every
    // millisecond from a USB adapter) would wake the program for nothing. So a long wait takes in
    // only the first byte and leaves the rest with the driver. If what the driver has gathered by
    // then is no more than the line can have carried since the wait began, the rest stays there
    // until shortly before the line can have carried it, and is then read as it comes; a device
    // that has everything at once (a pseudo-terminal in a test) is read at once. At most one hold
    // per wait, and never up to the end of the window.
    enum class Input { Flowing, FirstByte, Held };
    Input input = Input::Flowing;
    const auto release = [this, &input] {
        if (input == Input::Flowing)
            return;
        input = Input::Flowing;
        // What the driver gathered meanwhile is taken in at once, which may signal readyRead.
        m_line->holdInput(false);
    };
    const QScopeGuard released([this, &release] {
        m_holdOff->close();
        release();
    });
    const std::chrono::nanoseconds waitStart = m_window->preciseNow();
    if (m_line->isOpen() && lineTime(count - m_line->bytesWaiting()) >= kHoldOffWorthIt &&
        m_line->holdInput(true)) {
        input = Input::FirstByte;
    }

    // One loop for the whole wait: leaving and re-entering a loop at every arrival costs the
    // dispatcher a wake-up of its own each time.
    QEventLoop loop;
    bool over = false;
    const auto finish = [&loop, &over] {
        over = true;
        loop.quit();
    };
    // Runs on every arrival; it only ever moves the wait forward.
    const auto step = [&] {
        if (over)
            return;
        if (!m_window->isOpen() || aborted() || m_line->error() != QSerialPort::NoError ||
            !m_line->isOpen()) {
            finish();
            return;
        }
        // readyRead fires only for new bytes, so what is already waiting counts too.
        const qint64 have = m_line->bytesWaiting();
        if (have >= count) {
            finish();
            return;
        }
        if (input != Input::FirstByte || have == 0)
            return;
        const auto rest = lineTime(count - have);
        const bool linePace = lineTime(have - kBurstSlack) <= m_window->preciseNow() - waitStart;
        if (linePace && rest >= kHoldOffWorthIt && m_windowEnds - m_window->now() > rest) {
            input = Input::Held;
            m_holdOff->open(std::chrono::floor<std::chrono::milliseconds>(rest - kHoldOffMargin));
            return;
        }
        release();
        // The release takes in what reached the driver since it was counted, the rest of the
        // reply perhaps; QSerialPort does not signal readyRead from inside its own readyRead,
        // so nothing else would look at it until more bytes or the window's end.
        if (m_line->bytesWaiting() >= count)
            finish();
    };
    connect(m_line.get(), &SerialLine::readyRead, &loop, step);
    // Outside readyRead, a release may signal it, and step may run inside it: looking again
    // after it costs nothing.
    connect(m_holdOff.get(), &ReplyWindow::expired, &loop, [&] {
        release();
        step();
    });
    connect(m_line.get(), &SerialLine::failed, &loop, finish);
    connect(m_window.get(), &ReplyWindow::expired, &loop, finish);
    connect(this, &Link::interrupted, &loop, finish);
    step();
    if (!over)
        loop.exec();
    // Our own events end the wait only through finish(); a loop that returned without it was
    // ended from outside (the thread or the application quitting).
    if (!over && !aborted())
        abort(QStringLiteral("the program is closing"));
    // A line that failed while the window was running out must still end as an error.
    throwIfFailed();
}

qint64 Link::exchange(std::initializer_list<Piece> pieces)
{
    m_rxBuf.clear();
    qint64 taken = 0;
    bool first = true;
    for (const Piece& piece : pieces) {
        // Sent even when the window has closed: the radio expects the whole request.
        if (!m_line->write(piece.bytes)) {
            throwIfFailed();
            throw SerialError(QStringLiteral("cannot send"), QSerialPort::WriteError);
        }
        m_lastSentAt = m_window->now();
        if (first)
            openWindow(m_window->length());
        first = false;
        while (taken < piece.awaited && m_window->isOpen()) {
            const qint64 needed = piece.awaited - taken;
            waitFor(needed);
            if (m_line->bytesWaiting() >= needed) {
                const QByteArray bytes = m_line->readAll();
                taken += bytes.size();
                m_rxBuf += bytes;
            }
        }
    }
    m_window->close();
    // Kept for a trace or diagnosis (the echo of a request the radio did not answer), never
    // counted.
    m_rxBuf += m_line->readAll();
    return taken;
}

std::int16_t Link::textExchange(const QByteArray& command, qsizetype awaited, Recogniser recognise)
{
    const QByteArray text = command + kCr;
    m_rxBuf.clear();
    // A port that never opened was sent nothing, and a trace must not say otherwise.
    bool opened = false;
    const std::int16_t result = inPortFrame(reply::None, [&] {
        opened = true;
        // A reply that arrived after an earlier window closed would sit in front of this one and
        // shift it off its position.
        m_line->discardInput();
        return exchange({{text, awaited}}) >= awaited ? recognise(m_rxBuf, text.size())
                                                      : reply::None;
    });
    if (opened)
        reportExchange(text, m_rxBuf, result);
    return result;
}

qsizetype Link::queryEchoSize()
{
    return kModelQuery.size() + 1; // the command and its CR
}

std::int16_t Link::QueryModel()
{
    const std::int16_t code = textExchange(kModelQuery, queryEchoSize() + 6, &ParseFramedReply);
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
    m_line->discardInput();
    ++m_attemptsSent;
    // The radio takes a packet in two pieces: the copy of the first half must be back before
    // the second half goes out. One window covers both.
    const qint64 count = exchange({{bytPacket.first(kFirstHalf), kFirstHalf},
                                   {bytPacket.sliced(kFirstHalf), kPacketAwaited}});
    if (m_rxBuf.size() >= kPacketReplyAt)
        m_repliesSeen += answers(QByteArrayView(m_rxBuf).sliced(kPacketReplyAt));
    return static_cast<std::int16_t>(
        std::min<qint64>(count, std::numeric_limits<std::int16_t>::max()));
}

std::optional<std::int16_t> Link::sendPacket(int limit, std::span<const std::int16_t> accepted,
                                             const std::function<QByteArrayView()>& build)
{
    for (int intRetry = 0; intRetry < limit; ++intRetry) {
        const QByteArrayView packet = build();
        const std::int16_t intRxCount = SendBlock(packet);
        const std::int16_t code =
            intRxCount >= kPacketAwaited ? ParseReply(m_rxBuf, kPacketReplyAt) : reply::None;
        reportExchange(packet, m_rxBuf, code);
        if (intRxCount >= kPacketAwaited &&
            std::find(accepted.begin(), accepted.end(), code) != accepted.end()) {
            settleOwedReplies();
            return code;
        }
    }
    return std::nullopt;
}

void Link::settleOwedReplies()
{
    const bool owed = m_attemptsSent > m_repliesSeen;
    m_attemptsSent = 0;
    m_repliesSeen = 0;
    // What arrives meanwhile cannot be told apart from a reply with junk around it, so nothing
    // ends the wait early: every byte until then is dropped.
    const std::chrono::milliseconds until = m_lastSentAt + 2 * m_window->length();
    while (owed) {
        const std::chrono::milliseconds left = until - m_window->now();
        if (left <= std::chrono::milliseconds::zero())
            break;
        openWindow(left);
        waitFor(1);
        m_line->readAll();
    }
    m_window->close();
}

} // namespace tqb9
