#pragma once

#include "link/serialdriver.h"
#include "link/serialline.h"

#include <memory>
#include <QSerialPort>

namespace tqb9 {

// The serial line on a real port (or a pseudo-terminal) through QSerialPort.
class QSerialPortLine : public SerialLine {
    Q_OBJECT
public:
    explicit QSerialPortLine(QObject* parent = nullptr);
    ~QSerialPortLine() override;

    bool open(const QString& device, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_port->isOpen(); }
    bool write(QByteArrayView bytes) override;
    qint64 bytesWaiting() const override;
    QByteArray readAll() override;
    void discardInput() override;
    bool holdInput(bool hold) override;

private:
    static constexpr qint64 kReadBuffer = 8192;

    void onError(QSerialPort::SerialPortError error);
    void note(QSerialPort::SerialPortError error);
    void freshPort();

    // A fresh object for every opening: a closed one may still be written into by the wait it
    // had pending (retirePort), so it is never opened again nor freed at once.
    std::unique_ptr<QSerialPort> m_port;
    bool m_opening = false;
    LowLatency m_lowLatency;
    bool m_held = false;
};

} // namespace tqb9
