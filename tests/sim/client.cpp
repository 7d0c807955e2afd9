#include "tests/sim/client.h"

#include <QEventLoop>
#include <QTimer>

namespace tqb9::sim::test {

bool Client::open(qint32 baudRate, QSerialPort::StopBits stopBits)
{
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    return m_port.setBaudRate(baudRate) && m_port.setDataBits(QSerialPort::Data8) &&
           m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(stopBits) &&
           m_port.setFlowControl(QSerialPort::NoFlowControl);
}

QByteArray Client::collect(qsizetype count, std::chrono::milliseconds timeout)
{
    if (m_port.isOpen() && m_port.bytesAvailable() < count) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_port, &QSerialPort::readyRead, &loop, [&] {
            if (m_port.bytesAvailable() >= count)
                loop.quit();
        });
        QObject::connect(&m_port, &QSerialPort::errorOccurred, &loop,
                         [&](QSerialPort::SerialPortError error) {
                             if (error != QSerialPort::NoError)
                                 loop.quit();
                         });
        timer.start(timeout);
        loop.exec();
    }
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

QByteArray Client::exchange(const QByteArray& bytes, qsizetype count,
                            std::chrono::milliseconds timeout)
{
    m_port.write(bytes);
    return collect(count, timeout);
}

QByteArray Client::sendPacket(const QByteArray& packet, std::chrono::milliseconds timeout)
{
    QByteArray received = exchange(packet.first(512), 512, timeout);
    m_port.write(packet.sliced(512));
    return received + collect(packet.size() + 4 - received.size(), timeout);
}

QByteArray packet(const char letters[2], const QByteArray& payload)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes += QByteArray(letters, 2) + payload.first(std::min<qsizetype>(payload.size(), 1027));
    bytes.append(1031 - bytes.size(), '\xFF');
    unsigned sum = 0;
    for (qsizetype i = 2; i < 1031; ++i)
        sum += static_cast<quint8>(bytes[i]);
    bytes.append(static_cast<char>(sum & 0xFF));
    return bytes;
}

QByteArray programPacket(quint32 address, const QByteArray& data)
{
    QByteArray payload;
    payload.append(static_cast<char>(address >> 16));
    payload.append(static_cast<char>(address >> 8));
    payload.append(static_cast<char>(address));
    return packet("PG", payload + data);
}

} // namespace tqb9::sim::test
