#include "sim/pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tqb9::sim {

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

qint32 baudOf(speed_t speed)
{
    struct Pair {
        speed_t code;
        qint32 rate;
    };
    static constexpr Pair kRates[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const Pair& pair : kRates) {
        if (pair.code == speed)
            return pair.rate;
    }
    return 0;
}

} // namespace

bool Pty::open(QString* error)
{
    const auto fail = [&](const char* what) {
        if (error)
            *error = systemError(what);
        close();
        return false;
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0)
        return fail("grantpt");
    if (::unlockpt(m_master) != 0)
        return fail("unlockpt");
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");

    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);

    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_slave < 0)
        return fail("open slave");
    termios raw{};
    if (::tcgetattr(m_slave, &raw) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(m_slave, TCSANOW, &raw) != 0)
        return fail("tcsetattr");
    return true;
}

void Pty::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}

qint64 Pty::read(char* data, qint64 size)
{
    qint64 n;
    do {
        n = ::read(m_master, data, static_cast<size_t>(size));
    } while (n < 0 && errno == EINTR);
    return n;
}

qint64 Pty::write(const char* data, qint64 size)
{
    qint64 n;
    do {
        n = ::write(m_master, data, static_cast<size_t>(size));
    } while (n < 0 && errno == EINTR);
    return n;
}

LineSettings Pty::lineSettings() const
{
    LineSettings line;
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0) {
        line.baudRate = 0;
        return line;
    }
    line.baudRate = baudOf(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5:
        line.dataBits = 5;
        break;
    case CS6:
        line.dataBits = 6;
        break;
    case CS7:
        line.dataBits = 7;
        break;
    default:
        line.dataBits = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        line.parity = 'n';
    else if (t.c_cflag & CMSPAR)
        line.parity = (t.c_cflag & PARODD) ? 'm' : 's';
    else
        line.parity = (t.c_cflag & PARODD) ? 'o' : 'e';
    line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

int Pty::unread() const
{
    int count = 0;
    if (m_slave < 0 || ::ioctl(m_slave, FIONREAD, &count) != 0)
        return 0;
    return count;
}

} // namespace tqb9::sim
