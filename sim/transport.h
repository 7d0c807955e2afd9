#pragma once

#include <chrono>
#include <functional>
#include <QByteArrayView>
#include <QString>

namespace tqb9::sim {

// What the serial line was set to, as the pseudo-terminal reports it. The Linux pty driver forces
// 8 data bits and no parity whatever the program asks for, so only the speed and the stop bits
// can really be checked there.
struct LineSettings {
    qint32 baudRate = 0; // 0 when the speed has no number
    char parity = 'n';   // n, e, o, m, s
    int dataBits = 8;
    int stopBits = 1;

    // "57600,n,8,1"
    QString toString() const
    {
        return QStringLiteral("%1,%2,%3,%4")
            .arg(baudRate)
            .arg(QLatin1Char(parity))
            .arg(dataBits)
            .arg(stopBits);
    }
    bool operator==(const LineSettings&) const = default;
};
inline constexpr LineSettings kExpectedLine{57600, 'n', 8, 1};

// The line between the radio and the program: a pseudo-terminal for a real program, or a line
// played in-process for the tests. The radio only ever talks to this.
class Transport {
public:
    virtual ~Transport() = default;

    virtual bool isOpen() const = 0;
    // Closes at once: whatever has not reached the program yet is lost.
    virtual void close() = 0;
    virtual LineSettings lineSettings() const = 0;
    // The radio's bytes for the program, in the order they are given.
    virtual void send(QByteArrayView bytes) = 0;
    // Runs action after delay on the clock the line keeps.
    virtual void after(std::chrono::milliseconds delay, std::function<void()> action) = 0;
    // Runs action once the program has read everything sent so far (or cannot any more).
    virtual void whenDrained(std::function<void()> action) = 0;
};

} // namespace tqb9::sim
