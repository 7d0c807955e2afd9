#include "sim/ptytransport.h"

#include "sim/delivery.h"

#include <cerrno>
#include <QSocketNotifier>
#include <QTimer>

namespace tqb9::sim {

PtyTransport::PtyTransport(Delivery& delivery, std::function<void(QByteArrayView)> received,
                           std::function<void()> failed)
    : m_delivery(delivery), m_received(std::move(received)), m_failed(std::move(failed))
{}

PtyTransport::~PtyTransport()
{
    close();
}

bool PtyTransport::open(QString* error)
{
    if (!m_pty.open(error))
        return false;
    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyTransport::onReadable);
    m_delivery.start(&m_pty);
    return true;
}

void PtyTransport::close()
{
    // The notifiers must go before their descriptor closes.
    m_readNotifier.reset();
    m_delivery.stop();
    m_pty.close();
}

void PtyTransport::send(QByteArrayView bytes)
{
    m_delivery.send(bytes);
}

void PtyTransport::after(std::chrono::milliseconds delay, std::function<void()> action)
{
    QTimer::singleShot(delay, Qt::PreciseTimer, this, std::move(action));
}

void PtyTransport::whenDrained(std::function<void()> action)
{
    m_delivery.whenDrained(std::move(action));
}

void PtyTransport::onReadable()
{
    char buffer[4096];
    // Separate writes echo each read on its own, so reads as small as a USB packet make as many
    // pieces as an adapter would.
    const std::size_t piece =
        m_delivery.separateWrites() ? Delivery::kUsbPacketPayload : sizeof buffer;
    while (isOpen()) {
        const qint64 n = m_pty.read(buffer, piece);
        if (n > 0) {
            m_received(QByteArrayView(buffer, n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO: the slave side is gone, which the kept slave descriptor should rule out. Reading
        // on would spin, so the radio goes quiet for good.
        m_failed();
        return;
    }
}

} // namespace tqb9::sim
