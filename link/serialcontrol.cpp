#include "link/serialcontrol.h"

#include "link/portmap.h"

#include <QStringList>

namespace tqb9 {

LineSettings LineSettings::parse(const QString& text)
{
    const auto bad = [&text]() {
        return SerialError(QStringLiteral("invalid line settings \"%1\"").arg(text),
                           QSerialPort::UnsupportedOperationError);
    };
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        throw bad();

    LineSettings s;
    bool ok = false;
    s.baudRate = fields[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        throw bad();

    const QString parity = fields[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        throw bad();

    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        throw bad();
    s.dataBits = static_cast<QSerialPort::DataBits>(dataBits);

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        throw bad();
    return s;
}

SerialControl::SerialControl(const PortMap& ports, QObject* parent)
    : QObject(parent), m_ports(ports)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialControl::bytesArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControl::onError);
}

SerialControl::~SerialControl()
{
    if (m_port.isOpen())
        m_port.close();
}

void SerialControl::setCommPort(std::int16_t port)
{
    if (m_port.isOpen())
        fail(QStringLiteral("the port number cannot change while the port is open"));
    m_commPort = port;
}

void SerialControl::setSettings(const QString& text)
{
    m_settings = LineSettings::parse(text);
    m_settingsText = text;
    if (m_port.isOpen())
        apply();
}

void SerialControl::apply()
{
    // Each setter reaches the driver at once on an open port; the values are the same every time
    // in practice, so skip the calls when nothing changes.
    if (m_port.baudRate() != m_settings.baudRate)
        m_port.setBaudRate(m_settings.baudRate);
    if (m_port.parity() != m_settings.parity)
        m_port.setParity(m_settings.parity);
    if (m_port.dataBits() != m_settings.dataBits)
        m_port.setDataBits(m_settings.dataBits);
    if (m_port.stopBits() != m_settings.stopBits)
        m_port.setStopBits(m_settings.stopBits);
}

void SerialControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        return;
    }
    if (m_port.isOpen())
        return;

    m_failure.clear();
    m_failureKind = QSerialPort::NoError;
    m_device = m_ports.deviceFor(m_commPort);
    if (m_device.isEmpty()) {
        throw SerialError(QStringLiteral("COM%1: no such serial port").arg(m_commPort),
                          QSerialPort::DeviceNotFoundError);
    }
    m_port.setPortName(m_device);
    // Settings given to a closed QSerialPort are applied as it opens.
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    if (!opened) {
        throw SerialError(QStringLiteral("%1: %2").arg(m_device, m_port.errorString()),
                          m_port.error());
    }
}

void SerialControl::Output(QByteArrayView bytes)
{
    if (!m_failure.isEmpty() || !m_port.isOpen())
        fail(QStringLiteral("cannot send"));
    const qint64 written = m_port.write(bytes.data(), bytes.size());
    if (written != bytes.size())
        fail(QStringLiteral("cannot send: %1").arg(m_port.errorString()));
    // QSerialPort only queues the bytes until the event loop runs, and closing the port drops the
    // queue: the second half of a packet whose window had already closed never left.
    m_port.flush();
}

qint64 SerialControl::InBufferCount() const
{
    if (!m_failure.isEmpty() || !m_port.isOpen())
        fail(QStringLiteral("cannot read"));
    return m_port.bytesAvailable();
}

QByteArray SerialControl::Input()
{
    if (!m_failure.isEmpty() || !m_port.isOpen())
        fail(QStringLiteral("cannot read"));
    return m_port.readAll();
}

void SerialControl::discardInput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
}

void SerialControl::onError(QSerialPort::SerialPortError error)
{
    if (m_opening || error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    if (!m_port.isOpen() || !m_failure.isEmpty())
        return;
    m_failure = QStringLiteral("%1: %2").arg(m_device, m_port.errorString());
    m_failureKind = error;
    m_port.close();
    emit failed();
}

void SerialControl::fail(const QString& what) const
{
    if (!m_failure.isEmpty())
        throw SerialError(m_failure, m_failureKind);
    if (!m_port.isOpen())
        throw SerialError(QStringLiteral("%1: port is not open").arg(what),
                          QSerialPort::NotOpenError);
    throw SerialError(what, m_port.error());
}

} // namespace tqb9
