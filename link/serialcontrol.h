#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <stdexcept>

namespace tqb9 {

class PortMap;

// Any failure of the serial port: a port that cannot be opened, a malformed settings string, a
// device that vanished, an interrupted wait. Thrown inside an operation, trapped at its edge.
class SerialError : public std::runtime_error {
public:
    SerialError(const QString& message, QSerialPort::SerialPortError kind)
        : std::runtime_error(message.toStdString()), m_kind(kind)
    {}
    QSerialPort::SerialPortError kind() const { return m_kind; }

private:
    QSerialPort::SerialPortError m_kind;
};

struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // "57600,n,8,1": speed, parity (n, e, o, m, s), data bits (5..8), stop bits (1, 1.5, 2).
    // Throws SerialError on anything else.
    static LineSettings parse(const QString& text);
    bool operator==(const LineSettings&) const = default;
};

// The serial control the protocol talks to: port number, settings string, open flag, output,
// count of waiting input bytes and input. Errors are thrown as SerialError. The first fatal
// error of the device (pulled cable, vanished pseudo-terminal) closes the port at once, because
// Qt keeps reporting it at full CPU otherwise, and every later call on the port fails.
class SerialControl : public QObject {
    Q_OBJECT
public:
    explicit SerialControl(const PortMap& ports, QObject* parent = nullptr);
    ~SerialControl() override;

    std::int16_t CommPort() const { return m_commPort; }
    void setCommPort(std::int16_t port);

    QString Settings() const { return m_settingsText; }
    void setSettings(const QString& text);

    bool PortOpen() const { return m_port.isOpen(); }
    void setPortOpen(bool open);

    void Output(QByteArrayView bytes);
    qint64 InBufferCount() const;
    QByteArray Input();
    // Drops whatever the driver and Qt hold for input: a late reply to an earlier command.
    void discardInput();

    // The device the open port is on, or that the last open tried.
    QString deviceName() const { return m_device; }

signals:
    void bytesArrived();
    // A fatal error closed the port.
    void failed();

private:
    void onError(QSerialPort::SerialPortError error);
    void apply();
    [[noreturn]] void fail(const QString& what) const;

    const PortMap& m_ports;
    QSerialPort m_port;
    std::int16_t m_commPort = 1;
    QString m_settingsText;
    LineSettings m_settings;
    QString m_device;
    QString m_failure; // set when a fatal error closed the port mid-operation
    QSerialPort::SerialPortError m_failureKind = QSerialPort::NoError;
    bool m_opening = false;
};

} // namespace tqb9
