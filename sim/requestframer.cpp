#include "sim/requestframer.h"

#include <algorithm>

namespace tqb9::sim {

namespace {

constexpr qsizetype kMaxTextLine = 64;

Command packetCommand(const QByteArray& head)
{
    if (static_cast<quint8>(head[0]) != 0xFF || static_cast<quint8>(head[1]) != 0xFE)
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

RequestFramer::Step RequestFramer::take(QByteArrayView bytes, bool flashMode)
{
    Step step;
    if (bytes.isEmpty())
        return step;
    if (std::exchange(m_complete, false)) {
        m_in.clear();
        m_identified = false;
    }
    if (m_in.isEmpty()) {
        // Text commands all start "ZK~"; a packet starts FF FE. In flash mode anything else is
        // taken as a packet with a damaged header, so it gets its "NG" once 1032 bytes are in.
        m_packet = flashMode ? bytes[0] != 'Z' : static_cast<quint8>(bytes[0]) == 0xFF;
        m_identified = false;
        step.began = true;
    }

    qsizetype n = bytes.size();
    if (m_packet) {
        n = std::min(n, kPacketSize - m_in.size());
    } else {
        const auto cr = std::find(bytes.begin(), bytes.end(), '\r');
        if (cr != bytes.end())
            n = (cr - bytes.begin()) + 1;
        n = std::min(n, kMaxTextLine - m_in.size());
    }
    m_in += bytes.first(n);
    step.taken = n;

    if (!m_identified && (m_packet ? m_in.size() >= kPacketHead
                                   : (m_in.endsWith('\r') || m_in.size() >= kMaxTextLine))) {
        identify();
        step.identified = true;
    }
    m_complete = m_identified && (!m_packet || m_in.size() == kPacketSize);
    step.complete = m_complete;
    return step;
}

void RequestFramer::identify()
{
    Request request;
    if (m_packet) {
        request.command = packetCommand(m_in);
        if (request.command == Command::Program) {
            for (qsizetype i = 4; i < kPacketHead; ++i)
                request.address = (request.address << 8) | static_cast<quint8>(m_in[i]);
        }
    } else {
        request.command = textCommand(m_in);
    }
    const int command = static_cast<int>(request.command);
    request.number = ++m_counts[command];
    request.attempt = ++m_attempts[(quint64(command) << 32) | request.address];
    request.bytes = m_packet ? m_in.first(kPacketHead) : m_in;
    m_request = request;
    m_identified = true;
}

} // namespace tqb9::sim
