#include "sim/simradio.h"

#include "sim/pty.h"

#include <algorithm>
#include <cerrno>
#include <QFile>
#include <QScopeGuard>
#include <QSocketNotifier>

namespace tqb9::sim {

namespace {

using namespace std::chrono_literals;

constexpr qsizetype kPacketHead = 7; // FF FE, two type letters, 24-bit address
constexpr qsizetype kMaxTextLine = 64;
constexpr qint64 kNsPerSecond = 1'000'000'000;
// Pacing releases a byte within half a millisecond either side of the moment its last bit would
// leave the wire, so the whole run neither gains nor loses a millisecond per burst.
constexpr qint64 kPaceSlackNs = 500'000;
// Bytes written to the master reach the slave's read queue a moment later, from a kernel worker;
// until then the slave's count of unread bytes still reads 0.
constexpr qint64 kSettleNs = 2'000'000;
constexpr std::chrono::milliseconds kDrainPoll{2};
// A full-speed USB device is polled once per 1 ms frame. An FTDI adapter's bulk packets are 64
// bytes, two of them its modem status, so 62 received bytes make a packet that need not wait.
constexpr std::chrono::milliseconds kUsbFrame{1};
constexpr qsizetype kUsbPacketPayload = 62;
// A program that closed its port never reads what is left; hang up or end anyway.
constexpr qint64 kDrainLimitNs = 1'000'000'000;

const QByteArray kCrLf("\r\n");

QByteArray plainReply(const QByteArray& letters)
{
    return letters.isEmpty() ? QByteArray() : letters + kCrLf;
}

QByteArray framedReply(const QByteArray& letters)
{
    return letters.isEmpty() ? QByteArray() : kCrLf + letters + kCrLf;
}

quint32 bigEndian(const QByteArray& bytes, qsizetype at, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<quint8>(bytes[at + i]);
    return value;
}

QString hex(quint32 value)
{
    return QStringLiteral("0x%1").arg(
        QString::number(value, 16).toUpper().rightJustified(5, QLatin1Char('0')));
}

bool packetHeaderOk(const QByteArray& packet)
{
    return static_cast<quint8>(packet[0]) == 0xFF && static_cast<quint8>(packet[1]) == 0xFE;
}

Command packetCommand(const QByteArray& head)
{
    if (!packetHeaderOk(head))
        return Command::Other;
    const QByteArray letters = head.mid(2, 2);
    if (letters == "BE")
        return Command::Erase;
    if (letters == "PG")
        return Command::Program;
    if (letters == "ED")
        return Command::End;
    return Command::Other;
}

bool checksumOk(const QByteArray& packet)
{
    unsigned sum = 0;
    for (qsizetype i = 2; i < kPacketSize - 1; ++i)
        sum += static_cast<quint8>(packet[i]);
    return static_cast<quint8>(sum) == static_cast<quint8>(packet[kPacketSize - 1]);
}

Command textCommand(QByteArray line)
{
    while (line.startsWith('\n') || line.startsWith('\r'))
        line.remove(0, 1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line == "ZK~TQ-B9E")
        return Command::Query;
    if (line == "ZK~FLASH")
        return Command::Connect;
    return Command::Other;
}

int blockIndexOf(quint32 address)
{
    for (std::size_t i = 0; i < kEraseBlocks.size(); ++i) {
        if (address >= kEraseBlocks[i].first && address <= kEraseBlocks[i].last)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

QString commandName(Command command)
{
    switch (command) {
    case Command::Query:
        return QStringLiteral("query");
    case Command::Connect:
        return QStringLiteral("connect");
    case Command::Erase:
        return QStringLiteral("erase");
    case Command::Program:
        return QStringLiteral("program");
    case Command::End:
        return QStringLiteral("end");
    case Command::Other:
        break;
    }
    return QStringLiteral("other");
}

std::optional<Command> commandFromName(QStringView name)
{
    for (int i = 0; i < kCommandCount; ++i) {
        const auto command = static_cast<Command>(i);
        if (name.compare(commandName(command), Qt::CaseInsensitive) == 0)
            return command;
    }
    return std::nullopt;
}

QString LineSettings::toString() const
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBits);
}

SimRadio::SimRadio(QObject* parent) : QObject(parent), m_flash(kFlashSize, Qt::Uninitialized)
{
    for (qsizetype i = 0; i < kFlashSize; ++i)
        m_flash[i] = static_cast<char>(blankByte(kFlashStart + static_cast<quint32>(i)));

    m_letters[static_cast<int>(Command::Query)] = "OK";
    m_letters[static_cast<int>(Command::Connect)] = "CT";
    m_letters[static_cast<int>(Command::Erase)] = "BE";
    m_letters[static_cast<int>(Command::Program)] = "OK";
    m_letters[static_cast<int>(Command::End)] = "ED";

    m_paceTimer.setSingleShot(true);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &SimRadio::pump);
    connect(&m_usbFrame, &FrameClock::tick, this, &SimRadio::onUsbFrame);
    m_drainTimer.setInterval(kDrainPoll);
    m_drainTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_drainTimer, &QTimer::timeout, this, &SimRadio::checkDrained);
}

SimRadio::~SimRadio()
{
    closePty();
}

quint8 SimRadio::blankByte(quint32 address)
{
    // The top bit is always clear: never 0xFF, and a program write over it shows as a damaged
    // byte wherever the data has that bit set.
    return static_cast<quint8>(((address >> 4) ^ address) & 0x7F);
}

bool SimRadio::start(QString* error)
{
    if (m_pty) {
        if (error)
            *error = QStringLiteral("the radio has already been started");
        return false;
    }
    auto pty = std::make_unique<Pty>();
    if (!pty->open(error))
        return false;
    m_pty = std::move(pty);
    m_devicePath = m_pty->slavePath();

    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty->masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &SimRadio::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty->masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        pump();
    });
    m_clock.start();
    return true;
}

void SimRadio::attach(Wire wire)
{
    m_wire = std::move(wire);
    m_wireUp = true;
}

bool SimRadio::isRunning() const
{
    if (m_wire)
        return m_wireUp;
    return m_pty && m_pty->isOpen();
}

void SimRadio::hangUp()
{
    if (!isRunning())
        return;
    closePty();
    emit hungUp();
}

void SimRadio::closePty()
{
    // The notifiers must go before their descriptor closes.
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_paceTimer.stop();
    m_usbFrame.setRunning(false);
    m_drainTimer.stop();
    m_drainWaiters.clear();
    m_out.clear();
    m_adapter.clear();
    m_wireUp = false;
    if (m_pty)
        m_pty->close();
}

void SimRadio::setPacing(bool on)
{
    m_pacing = on;
    if (!on)
        m_paceTimer.stop();
    m_burstStartNs = m_clock.isValid() ? m_clock.nsecsElapsed() : 0;
    m_burstBytes = 0;
    pump();
}

void SimRadio::setUsbLatency(std::chrono::milliseconds latency)
{
    m_usbLatency = std::max(latency, std::chrono::milliseconds{0});
    if (m_usbLatency.count() == 0) {
        m_usbFrame.setRunning(false);
        m_out.prepend(m_adapter);
        m_adapter.clear();
    }
    pump();
}

void SimRadio::setReplyLetters(Command command, const QByteArray& letters)
{
    if (command != Command::Other)
        m_letters[static_cast<int>(command)] = letters;
}

QByteArray SimRadio::replyLetters(Command command) const
{
    return m_letters[static_cast<int>(command)];
}

QList<quint32> SimRadio::writtenBlocks() const
{
    QList<quint32> blocks(m_written.cbegin(), m_written.cend());
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

QList<quint32> SimRadio::erasedBlocks() const
{
    QList<quint32> blocks;
    for (std::size_t i = 0; i < kEraseBlocks.size(); ++i) {
        if (m_erased[i])
            blocks.append(kEraseBlocks[i].first);
    }
    return blocks;
}

bool SimRadio::writeFlash(const QString& path, QString* error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(m_flash) != m_flash.size() || !file.flush()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

int SimRadio::errorCount(ErrorKind kind) const
{
    return static_cast<int>(std::count_if(m_errors.cbegin(), m_errors.cend(),
                                          [kind](const Error& e) { return e.kind == kind; }));
}

void SimRadio::recordError(ErrorKind kind, const QString& message, int exchange)
{
    m_errors.append(Error{kind, message, exchange});
    emit errorRecorded(static_cast<int>(m_errors.size() - 1));
}

void SimRadio::onReadable()
{
    char buffer[4096];
    // Separate writes echo each read on its own, so reads as small as a USB packet make as many
    // pieces as an adapter would.
    const std::size_t piece = m_separateWrites ? kUsbPacketPayload : sizeof buffer;
    while (isRunning()) {
        const qint64 n = m_pty->read(buffer, piece);
        if (n > 0) {
            take(QByteArrayView(buffer, n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO: the slave side is gone, which the kept slave descriptor should rule out. Reading
        // on would spin, so the radio goes quiet for good.
        hangUp();
        return;
    }
}

// Splits the byte stream into requests. A text command ends with its CR; a packet is 1032 bytes,
// whatever the pieces the program writes it in.
void SimRadio::take(QByteArrayView bytes)
{
    // What answers one read of the program's bytes goes out in one write, as a cable's echo
    // comes as one stream: a program never sees the packet's header echoed apart from the rest.
    m_taking = true;
    const auto sendTaken = qScopeGuard([this] {
        m_taking = false;
        pump();
    });
    qsizetype pos = 0;
    while (pos < bytes.size() && isRunning()) {
        if (m_in.isEmpty())
            beginRequest(bytes[pos]);

        qsizetype n = bytes.size() - pos;
        if (m_inPacket) {
            n = std::min(n, kPacketSize - m_in.size());
        } else {
            const auto cr = std::find(bytes.begin() + pos, bytes.end(), '\r');
            if (cr != bytes.end())
                n = (cr - bytes.begin()) - pos + 1;
            n = std::min(n, kMaxTextLine - m_in.size());
        }
        const QByteArrayView part = bytes.sliced(pos, n);
        pos += n;
        m_in += part;

        if (m_identified) {
            if (m_response.echo)
                send(part);
        } else if (m_inPacket ? m_in.size() >= kPacketHead
                              : (m_in.endsWith('\r') || m_in.size() >= kMaxTextLine)) {
            identify();
            if (m_response.echo)
                send(m_in);
        }

        if (m_identified && (!m_inPacket || m_in.size() == kPacketSize))
            complete();
    }
}

void SimRadio::beginRequest(char first)
{
    // Text commands all start "ZK~"; a packet starts FF FE. In flash mode anything else is taken
    // as a packet with a damaged header, so it gets its "NG" once 1032 bytes are in.
    m_inPacket = m_flashMode ? first != 'Z' : static_cast<quint8>(first) == 0xFF;
    m_identified = false;
    m_line = m_wire ? m_wire->line() : m_pty->lineSettings();
}

void SimRadio::identify()
{
    Request request;
    if (m_inPacket) {
        request.command = packetCommand(m_in);
        if (request.command == Command::Program)
            request.address = bigEndian(m_in, 4, 3);
    } else {
        request.command = textCommand(m_in);
    }
    const int command = static_cast<int>(request.command);
    request.number = ++m_counts[command];
    request.attempt = ++m_attempts[(quint64(command) << 32) | request.address];
    request.bytes = m_inPacket ? m_in.first(kPacketHead) : m_in;

    m_request = request;
    m_response = Response{};
    if (m_script) {
        if (std::optional<Response> response = m_script(m_request))
            m_response = std::move(*response);
    }
    m_identified = true;
}

void SimRadio::complete()
{
    Exchange exchange;
    exchange.request = m_request;
    exchange.request.bytes = m_in;
    exchange.echoed = m_response.echo;
    exchange.delay = m_response.delay;
    exchange.line = m_line;
    const int index = static_cast<int>(m_log.size());
    m_log.append(exchange);

    if (m_line != kExpectedLine) {
        recordError(
            ErrorKind::WrongLineSettings,
            QStringLiteral("%1 arrived at %2, not %3")
                .arg(commandName(m_request.command), m_line.toString(), kExpectedLine.toString()),
            index);
    }

    bool endsSession = false;
    const QByteArray own = perform(index, &endsSession);
    QByteArray reply = m_response.reply.value_or(own);
    reply.chop(std::max(0, m_response.cut));
    // Only the radio's own "ED" ends the session for whoever waits on it: a script that
    // swallows or damages it means the program will try again.
    endsSession = endsSession && !own.isEmpty() && reply == own;
    const QByteArray out = m_response.garbage + reply;
    const bool hang = m_response.hangUp;
    const auto delay = m_response.delay;

    m_in.clear();
    m_identified = false;
    m_response = Response{};

    if (delay > 0ms && m_wire) {
        m_wire->after(delay, [this, index, out, endsSession, hang] {
            deliver(index, out, endsSession, hang);
        });
    } else if (delay > 0ms) {
        QTimer::singleShot(delay, Qt::PreciseTimer, this, [this, index, out, endsSession, hang] {
            deliver(index, out, endsSession, hang);
        });
    } else {
        deliver(index, out, endsSession, hang);
    }
}

// Carries out a complete request on the radio's state and returns the radio's own reply.
QByteArray SimRadio::perform(int index, bool* endsSession)
{
    const auto letters = [this](Command c) {
        return m_letters[static_cast<int>(c)];
    };
    const Command command = m_request.command;
    if (!m_inPacket) {
        switch (command) {
        case Command::Query:
            return framedReply(letters(command));
        case Command::Connect:
            m_flashMode = true;
            return plainReply(letters(command));
        default:
            return {};
        }
    }

    const bool sound = command != Command::Other && checksumOk(m_in);
    if (!m_flashMode) {
        // Ending a session that has already ended does no harm, so the radio just acknowledges
        // it; that lets a program retry an end packet whose "ED" it missed.
        if (command == Command::End && sound) {
            *endsSession = true;
            return plainReply(letters(command));
        }
        recordError(ErrorKind::NotInFlashMode,
                    QStringLiteral("%1 packet before \"ZK~FLASH\"").arg(commandName(command)),
                    index);
        return {};
    }
    if (command == Command::Other) {
        recordError(ErrorKind::BadPacket,
                    QStringLiteral("packet starting %1 is no erase, program or end packet")
                        .arg(QString::fromLatin1(m_in.first(4).toHex(' ').toUpper())),
                    index);
        return plainReply("NG");
    }
    if (!sound) {
        recordError(ErrorKind::BadChecksum,
                    QStringLiteral("%1 packet with a wrong checksum").arg(commandName(command)),
                    index);
        return plainReply("NG");
    }

    switch (command) {
    case Command::Erase:
        return performErase(index);
    case Command::Program:
        return performProgram(index);
    case Command::End:
        m_flashMode = false;
        *endsSession = true;
        return plainReply(letters(command));
    default:
        return {};
    }
}

QByteArray SimRadio::performErase(int index)
{
    constexpr int kSlots = 9;
    for (int slot = 0; slot < kSlots; ++slot) {
        const quint32 address = bigEndian(m_in, 4 + 4 * slot, 4);
        if (address == 0xFFFFFFFF)
            continue;
        const int block = blockIndexOf(address);
        if (block < 0 || address != kEraseBlocks[block].last - 1) {
            recordError(ErrorKind::BadAddress,
                        QStringLiteral("erase slot %1 holds %2, which is not the highest even "
                                       "address of a flash block")
                            .arg(slot + 1)
                            .arg(hex(address)),
                        index);
            continue;
        }
        const EraseBlock& range = kEraseBlocks[block];
        if (range.first == kBootBlockStart)
            recordError(ErrorKind::BootBlock, QStringLiteral("the boot block was erased"), index);
        std::fill(m_flash.begin() + (range.first - kFlashStart),
                  m_flash.begin() + (range.last - kFlashStart + 1), char(0xFF));
        m_erased[block] = true;
    }
    return plainReply(m_letters[static_cast<int>(Command::Erase)]);
}

QByteArray SimRadio::performProgram(int index)
{
    const quint32 address = m_request.address;
    if (address % kProgramBlockSize != 0 || address < kFlashStart ||
        address + kProgramBlockSize > kFlashEnd) {
        recordError(
            ErrorKind::BadAddress,
            QStringLiteral("program address %1 is not a 1 KB block of the flash").arg(hex(address)),
            index);
        return plainReply("NG");
    }
    if (address >= kBootBlockStart)
        recordError(ErrorKind::BootBlock,
                    QStringLiteral("program into the boot block at %1").arg(hex(address)), index);

    // Flash cells can only go from 1 to 0; a write over old content ANDs with it.
    const int block = blockIndexOf(address);
    const qsizetype offset = address - kFlashStart;
    bool bitsLost = false;
    for (quint32 i = 0; i < kProgramBlockSize; ++i) {
        const auto data = static_cast<quint8>(m_in[kPacketHead + i]);
        const auto result = static_cast<quint8>(static_cast<quint8>(m_flash[offset + i]) & data);
        bitsLost = bitsLost || result != data;
        m_flash[offset + i] = static_cast<char>(result);
    }
    if (!m_erased[block]) {
        recordError(
            ErrorKind::UnerasedWrite,
            QStringLiteral("write to unerased flash at %1: block %2..%3 has not been "
                           "erased")
                .arg(hex(address), hex(kEraseBlocks[block].first), hex(kEraseBlocks[block].last)),
            index);
    } else if (bitsLost) {
        recordError(ErrorKind::UnerasedWrite,
                    QStringLiteral("write to unerased flash at %1: it was programmed before")
                        .arg(hex(address)),
                    index);
    }
    m_written.insert(address);
    return plainReply(m_letters[static_cast<int>(Command::Program)]);
}

void SimRadio::deliver(int index, const QByteArray& reply, bool endsSession, bool hang)
{
    if (!isRunning())
        return;
    send(reply);
    Exchange& exchange = m_log[index];
    exchange.reply = reply;
    exchange.sent = true;
    exchange.hungUp = hang;
    if (hang)
        whenDrained([this] { hangUp(); });
    else if (endsSession)
        whenDrained([this] { emit sessionEnded(); });
    emit requestHandled(index);
}

void SimRadio::send(QByteArrayView bytes)
{
    if (bytes.isEmpty() || !isRunning())
        return;
    if (m_wire) {
        m_wire->toProgram(bytes);
        return;
    }
    if (m_out.isEmpty()) {
        // The line has been idle: a new burst starts now, not where the last one ended.
        m_burstStartNs = m_clock.nsecsElapsed();
        m_burstBytes = 0;
    }
    m_out += bytes;
    if (!m_taking || m_separateWrites)
        pump();
}

// Hands queued bytes to the pty. Paced, byte k of a burst leaves when its tenth bit would have
// left the wire, counted from the burst's start so timer lateness never adds up.
void SimRadio::pump()
{
    if (m_usbLatency.count() > 0) {
        if ((!m_out.isEmpty() || !m_adapter.isEmpty()) && isRunning() && !m_usbFrame.isRunning())
            m_usbFrame.setRunning(true);
        return;
    }
    while (isRunning() && !m_out.isEmpty()) {
        const qint64 now = m_clock.nsecsElapsed();
        qint64 allowed = m_out.size();
        if (m_pacing) {
            const qint64 due =
                (now - m_burstStartNs + kPaceSlackNs) * kLineBytesPerSecond / kNsPerSecond -
                m_burstBytes;
            if (due <= 0) {
                const qint64 nextNs =
                    m_burstStartNs - kPaceSlackNs +
                    ((m_burstBytes + 1) * kNsPerSecond + kLineBytesPerSecond - 1) /
                        kLineBytesPerSecond;
                const qint64 waitMs = std::max<qint64>(1, (nextNs - now + 999'999) / 1'000'000);
                m_paceTimer.start(std::chrono::milliseconds(waitMs));
                return;
            }
            allowed = std::min(allowed, due);
        }
        const qint64 n = m_pty->write(m_out.constData(), allowed);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            hangUp();
            return;
        }
        m_out.remove(0, n);
        m_burstBytes += n;
        m_lastWriteNs = now;
        if (n < allowed) {
            // The slave's queue is full: the program is not reading. Wait until it does.
            m_writeNotifier->setEnabled(true);
            return;
        }
    }
}

// One USB frame: the line hands the adapter what it has carried since the last frame, and the
// adapter hands the program a packet once it is full or its latency has run out. A byte is only
// seen at the frame after it arrived, so a latency of one frame hands everything over at once.
void SimRadio::onUsbFrame()
{
    if (!isRunning()) {
        m_usbFrame.setRunning(false);
        return;
    }
    const qint64 now = m_clock.nsecsElapsed();
    qint64 carried = m_out.size();
    if (m_pacing) {
        carried = std::clamp<qint64>((now - m_burstStartNs) * kLineBytesPerSecond / kNsPerSecond -
                                         m_burstBytes,
                                     0, m_out.size());
    }
    if (carried > 0) {
        if (m_adapter.isEmpty())
            m_adapterSinceNs = now;
        m_adapter += QByteArrayView(m_out).first(carried);
        m_out.remove(0, carried);
        m_burstBytes += carried;
    }
    const qint64 latencyNs = std::chrono::nanoseconds(m_usbLatency - kUsbFrame).count();
    if (!m_adapter.isEmpty() &&
        (m_adapter.size() >= kUsbPacketPayload || now - m_adapterSinceNs >= latencyNs)) {
        const qint64 n = m_pty->write(m_adapter.constData(), m_adapter.size());
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            hangUp();
            return;
        }
        if (n > 0) {
            m_adapter.remove(0, n);
            m_adapterSinceNs = now;
            m_lastWriteNs = now;
        }
        if (!m_adapter.isEmpty()) {
            // The program is not reading: no frames until the pty takes bytes again.
            m_usbFrame.setRunning(false);
            m_writeNotifier->setEnabled(true);
            return;
        }
    }
    if (m_out.isEmpty() && m_adapter.isEmpty())
        m_usbFrame.setRunning(false);
}

// The pty has no event for "the other side has read everything", so this looks every few
// milliseconds, and only while someone waits for it.
void SimRadio::whenDrained(std::function<void()> action)
{
    if (!isRunning())
        return;
    if (m_wire) {
        // The line hands bytes over in the order given, so what comes after them comes later.
        m_wire->after(std::chrono::milliseconds{0}, std::move(action));
        return;
    }
    m_drainWaiters.append(DrainWaiter{m_clock.nsecsElapsed() + kDrainLimitNs, std::move(action)});
    if (!m_drainTimer.isActive())
        m_drainTimer.start();
}

void SimRadio::checkDrained()
{
    const qint64 now = m_clock.nsecsElapsed();
    const bool drained = isRunning() && m_out.isEmpty() && m_adapter.isEmpty() &&
                         now - m_lastWriteNs >= kSettleNs && m_pty->unread() == 0;
    QList<std::function<void()>> ready;
    for (auto it = m_drainWaiters.begin(); it != m_drainWaiters.end();) {
        if (drained || now >= it->deadlineNs) {
            ready.append(std::move(it->action));
            it = m_drainWaiters.erase(it);
        } else {
            ++it;
        }
    }
    if (m_drainWaiters.isEmpty())
        m_drainTimer.stop();
    for (const auto& action : ready) {
        if (!isRunning())
            return;
        action();
    }
}

} // namespace tqb9::sim
