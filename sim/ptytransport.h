#pragma once

#include "sim/pty.h"
#include "sim/transport.h"

#include <memory>
#include <QObject>

class QSocketNotifier;

namespace tqb9::sim {

class Delivery;

// The radio on the master side of a pseudo-terminal: the program's bytes as the pty hands them
// over, the radio's through delivery, delays on Qt's timers.
class PtyTransport : public QObject, public Transport {
    Q_OBJECT
public:
    PtyTransport(Delivery& delivery, std::function<void(QByteArrayView)> received,
                 std::function<void()> failed);
    ~PtyTransport() override;

    bool open(QString* error);
    QString devicePath() const { return m_pty.slavePath(); }

    bool isOpen() const override { return m_pty.isOpen(); }
    void close() override;
    LineSettings lineSettings() const override { return m_pty.lineSettings(); }
    void send(QByteArrayView bytes) override;
    void after(std::chrono::milliseconds delay, std::function<void()> action) override;
    void whenDrained(std::function<void()> action) override;

private:
    void onReadable();

    Delivery& m_delivery;
    std::function<void(QByteArrayView)> m_received;
    std::function<void()> m_failed;
    Pty m_pty;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
};

} // namespace tqb9::sim
