#pragma once

#include <chrono>
#include <QByteArray>
#include <QSerialPort>
#include <QString>

namespace tqb9::sim::test {

using namespace std::chrono_literals;

// The program's side of the wire, reduced to what the tests need: a QSerialPort on the pty
// slave, opened and closed per step as the program does, waiting in a nested event loop.
class Client {
public:
    explicit Client(QString device) : m_device(std::move(device)) {}

    bool open(qint32 baudRate = 57600, QSerialPort::StopBits stopBits = QSerialPort::OneStop);
    void close() { m_port.close(); }
    QSerialPort& port() { return m_port; }

    // Waits until count bytes are waiting, the timeout passes or the port fails, and returns
    // everything waiting.
    QByteArray collect(qsizetype count, std::chrono::milliseconds timeout = 2s);
    // Writes bytes and collects as above.
    QByteArray exchange(const QByteArray& bytes, qsizetype count,
                        std::chrono::milliseconds timeout = 2s);
    // A packet as the program sends it: 512 bytes, then, once their echo is in (or the
    // timeout has passed), the other 520; collects the echo and a 4-byte reply.
    QByteArray sendPacket(const QByteArray& packet, std::chrono::milliseconds timeout = 2s);

private:
    QString m_device;
    QSerialPort m_port;
};

// FF FE, the two letters, the payload padded with FF to 1027 bytes, and the checksum.
QByteArray packet(const char letters[2], const QByteArray& payload = {});
QByteArray programPacket(quint32 address, const QByteArray& data);

} // namespace tqb9::sim::test
