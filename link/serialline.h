#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <stdexcept>

namespace tqb9 {

// A failure inside one operation with the radio: a port that cannot be opened, a malformed
// settings string, a device that vanished, an interrupted wait. Thrown only inside an operation
// and trapped at its edge, where it becomes the operation's failure code.
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

// The serial line the protocol talks to, and nothing else: a cable's port in the programs, a
// scripted radio in tests. Functions report failure by their result and keep error() and
// errorString(), as QSerialPort does. An error that means the device is gone (a pulled cable, a
// vanished pseudo-terminal) closes the line at once; any other error leaves it open for the
// operation to end and close. Either way failed() is emitted, so a wait wakes up.
class SerialLine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool open(const QString& device, const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Hands over all the bytes, or fails.
    virtual bool write(QByteArrayView bytes) = 0;
    virtual qint64 bytesWaiting() const = 0;
    virtual QByteArray readAll() = 0;
    // Drops whatever input the driver and the line hold.
    virtual void discardInput() = 0;
    // While held, bytes that arrive stay with the driver and wake nobody (after at most one
    // last readyRead), and bytesWaiting() counts them there; released, they are taken in at once.
    // Release before reading. False, and nothing held, on a line that cannot do it.
    virtual bool holdInput(bool hold)
    {
        Q_UNUSED(hold);
        return false;
    }

    QSerialPort::SerialPortError error() const { return m_error; }
    QString errorString() const { return m_errorString; }
    void clearError() { setError(QSerialPort::NoError, {}); }

signals:
    // The line is open on device; lowLatency says what its driver answered to the request for
    // low latency, for a trace.
    void opened(const QString& device, const QString& lowLatency);
    void readyRead();
    void failed();

protected:
    void setError(QSerialPort::SerialPortError error, const QString& text)
    {
        m_error = error;
        m_errorString = text;
    }

private:
    QSerialPort::SerialPortError m_error = QSerialPort::NoError;
    QString m_errorString;
};

} // namespace tqb9
