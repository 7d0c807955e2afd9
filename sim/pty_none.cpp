#include "sim/pty.h"

#include <cerrno>

namespace tqb9::sim {

// Where the system has no pseudo-terminals the simulated radio still runs in-process (attach),
// but start() fails with this reason instead of a device path.
bool Pty::open(QString* error)
{
    if (error)
        *error = QStringLiteral("pseudo-terminals are not available on this system");
    return false;
}

void Pty::close() {}

qint64 Pty::read(char*, qint64)
{
    errno = ENOSYS;
    return -1;
}

qint64 Pty::write(const char*, qint64)
{
    errno = ENOSYS;
    return -1;
}

LineSettings Pty::lineSettings() const
{
    return {};
}

int Pty::unread() const
{
    return 0;
}

} // namespace tqb9::sim
