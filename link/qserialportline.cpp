#include "link/qserialportline.h"

#include <algorithm>
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

QSerialPortLine::QSerialPortLine(QObject* parent) : SerialLine(parent)
{
    freshPort();
}

QSerialPortLine::~QSerialPortLine()
{
    close();
    m_port->disconnect(this);
    retirePort(std::move(m_port));
}

void QSerialPortLine::freshPort()
{
    if (m_port) {
        m_port->disconnect(this);
        retirePort(std::move(m_port));
    }
    m_port = std::make_unique<QSerialPort>();
    // Unlimited, QSerialPort reserves a fresh 32 KB chunk for each arrival of a few bytes while
    // earlier ones wait unread, which at the radio's pace is a thousand allocations a second. A
    // limit well above the largest reply awaited (1036 bytes) lets arrivals share one chunk;
    // what comes beyond it waits in the driver until read.
    m_port->setReadBufferSize(kReadBuffer);
    connect(m_port.get(), &QSerialPort::readyRead, this, &SerialLine::readyRead);
    connect(m_port.get(), &QSerialPort::errorOccurred, this, &QSerialPortLine::onError);
}

bool QSerialPortLine::open(const QString& device, const LineSettings& settings)
{
    clearError();
    if (m_port->isOpen()) {
        setError(QSerialPort::OpenError, QStringLiteral("already open"));
        return false;
    }
    m_port->setPortName(device);
    // Settings given to a closed QSerialPort are applied as it opens.
    m_port->setBaudRate(settings.baudRate);
    m_port->setParity(settings.parity);
    m_port->setDataBits(settings.dataBits);
    m_port->setStopBits(settings.stopBits);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_opening = true;
    const bool ok = m_port->open(QIODevice::ReadWrite);
    m_opening = false;
    if (!ok) {
        note(m_port->error());
        return false;
    }
    m_lowLatency = requestLowLatency(m_port->handle());
    emit opened(device, m_lowLatency.note);
    return true;
}

void QSerialPortLine::close()
{
    m_held = false;
    if (!m_port->isOpen())
        return;
    restoreLatency(m_port->handle(), m_lowLatency);
    m_lowLatency = {};
    m_port->close();
    freshPort();
}

bool QSerialPortLine::write(QByteArrayView bytes)
{
    if (error() != QSerialPort::NoError)
        return false;
    if (!m_port->isOpen()) {
        setError(QSerialPort::NotOpenError, QStringLiteral("cannot send: the port is not open"));
        return false;
    }
    if (m_port->write(bytes.data(), bytes.size()) != bytes.size()) {
        if (error() == QSerialPort::NoError)
            note(QSerialPort::WriteError);
        return false;
    }
    // QSerialPort only queues the bytes until the event loop runs, and closing the port drops the
    // queue: the second half of a packet whose window had already closed would never leave. What
    // the driver cannot take yet leaves as the event loop runs.
    m_port->flush();
    return error() == QSerialPort::NoError;
}

qint64 QSerialPortLine::bytesWaiting() const
{
    if (!m_port->isOpen())
        return 0;
    return m_port->bytesAvailable() +
           (m_held ? std::max<qint64>(0, driverInputCount(m_port->handle())) : 0);
}

QByteArray QSerialPortLine::readAll()
{
    // QIODevice::readAll() on a sequential device grows a buffer chunk by chunk, tens of KB for
    // a few bytes: taking exactly what is buffered keeps the heap still in a run of many waits.
    if (!m_port->isOpen() || m_port->bytesAvailable() <= 0)
        return {};
    return m_port->read(m_port->bytesAvailable());
}

void QSerialPortLine::discardInput()
{
    if (m_port->isOpen())
        m_port->clear(QSerialPort::Input);
}

bool QSerialPortLine::holdInput(bool hold)
{
    // Holding pays only where the driver says how much it holds meanwhile.
    if (!m_port->isOpen() || (hold && driverInputCount(m_port->handle()) < 0))
        return false;
    m_held = hold;
    // QSerialPort stops watching the device once its read buffer is full, and watches again once
    // it has room: a one-byte buffer leaves every later byte in the driver.
    m_port->setReadBufferSize(hold ? 1 : kReadBuffer);
    // Released, what the driver gathered is taken in at once.
    if (!hold)
        m_port->waitForReadyRead(0);
    return true;
}

void QSerialPortLine::note(QSerialPort::SerialPortError kind)
{
    // The system's own words alone: whoever shows them names the device once, as it chooses.
    setError(kind, m_port->errorString());
}

void QSerialPortLine::onError(QSerialPort::SerialPortError kind)
{
    // Errors while opening are the open's result; a time-out is not an error of ours.
    if (m_opening || kind == QSerialPort::NoError || kind == QSerialPort::TimeoutError)
        return;
    if (!m_port->isOpen() || error() != QSerialPort::NoError)
        return;
    if (isLeftoverAbort(*m_port)) {
        m_port->clearError();
        return;
    }
    note(kind);
    // A vanished device keeps reporting its error at full CPU while the port stays open.
    if (kind == QSerialPort::ResourceError)
        close();
    emit failed();
}

} // namespace tqb9
