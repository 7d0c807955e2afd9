#include "link/serialdriver.h"

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace tqb9 {
namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

// The serial driver's ASYNC_LOW_LATENCY flag: the usbserial drivers (ftdi_sio among them) then
// set the adapter's latency timer to its shortest. A pseudo-terminal has no serial driver and
// refuses the request, which changes nothing.
LowLatency requestLowLatency(SerialHandle handle)
{
    const int fd = static_cast<int>(handle);
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return {false, false, QStringLiteral("not offered by the driver (%1)").arg(systemError())};
    if (serial.flags & ASYNC_LOW_LATENCY)
        return {true, false, QStringLiteral("already on")};
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return {false, false, QStringLiteral("refused by the driver (%1)").arg(systemError())};
    return {true, true, QStringLiteral("on")};
}

void restoreLatency(SerialHandle handle, const LowLatency& requested)
{
    if (!requested.changed)
        return;
    const int fd = static_cast<int>(handle);
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}

qint64 driverInputCount(SerialHandle handle)
{
    int count = 0;
    return ::ioctl(static_cast<int>(handle), FIONREAD, &count) == 0 ? count : -1;
}

} // namespace tqb9
