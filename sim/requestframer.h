#pragma once

#include <array>
#include <optional>
#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringView>

namespace tqb9::sim {

inline constexpr qsizetype kPacketSize = 1032;
inline constexpr qsizetype kPacketHead = 7; // FF FE, two type letters, 24-bit address

enum class Command {
    Query,   // "ZK~TQ-B9E" CR
    Connect, // "ZK~FLASH" CR
    Erase,   // packet "B","E"
    Program, // packet "P","G"
    End,     // packet "E","D"
    Other,   // any other text line, or a packet with a wrong header or unknown type letters
};
inline constexpr int kCommandCount = 6;

// "query", "connect", "erase", "program", "end", "other".
QString commandName(Command command);
std::optional<Command> commandFromName(QStringView name);

// One request as the radio identified it: a text line once its CR has arrived, a packet once its
// header, type letters and address (the first 7 bytes) have arrived. The echo waits for that
// moment, so a script can still withhold all of it.
struct Request {
    Command command = Command::Other;
    quint32 address = 0; // Program: the 24-bit address in bytes 4..6; 0 otherwise
    int attempt = 1;     // 1-based count of this command (Program: at this address) so far
    int number = 1;      // 1-based count of this command so far, any address
    QByteArray bytes{};  // the text line, or a packet's first 7 bytes; all of it in log()
};

// Splits the program's byte stream into requests. A text command ends with its CR; a packet is
// 1032 bytes, whatever the pieces the program writes it in. A request half received when the
// program closes its port is finished by the bytes of its next opening.
class RequestFramer {
public:
    // What one take() did with the bytes it was given.
    struct Step {
        qsizetype taken = 0;     // bytes that belong to the request coming in
        bool began = false;      // they start a new request
        bool identified = false; // with them the request can be identified
        bool complete = false;   // with them the request is whole
    };

    // Takes bytes from the front of the stream up to the end of the request coming in. The radio
    // reads a request differently in flash mode, so the caller says whether it is in it.
    Step take(QByteArrayView bytes, bool flashMode);

    // The request coming in, once identified.
    const Request& request() const { return m_request; }
    bool isIdentified() const { return m_identified; }
    // All its bytes so far; the whole request once complete.
    const QByteArray& received() const { return m_in; }
    bool isPacket() const { return m_packet; }

    // Requests of this command identified so far.
    int count(Command command) const { return m_counts[static_cast<int>(command)]; }

private:
    void identify();

    QByteArray m_in;
    bool m_packet = false;
    bool m_identified = false;
    bool m_complete = false;
    Request m_request;
    std::array<int, kCommandCount> m_counts{};
    QHash<quint64, int> m_attempts;
};

} // namespace tqb9::sim
