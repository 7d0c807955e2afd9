#pragma once

#include "sim/transport.h"

#include <QString>

namespace tqb9::sim {

// The master side of a Linux pseudo-terminal pair, with one slave descriptor kept open for the
// pair's whole life. Without it, every time the program closes its port the master reads EIO
// and the slave's settings fall back to the driver's defaults.
class Pty {
public:
    Pty() = default;
    ~Pty() { close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens the pair, puts the slave in raw mode at once so nothing the program sends before
    // it sets the line up is echoed or translated by the line discipline.
    bool open(QString* error);
    void close();
    bool isOpen() const { return m_master >= 0; }

    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Non-blocking. Both return -1 with errno as the system left it.
    qint64 read(char* data, qint64 size);
    qint64 write(const char* data, qint64 size);

    // The slave's settings. A TCGETS on the master reports the slave's too; the kept slave
    // descriptor says plainly which end is meant.
    LineSettings lineSettings() const;
    // Bytes written to the master that nobody on the slave side has read yet.
    int unread() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

} // namespace tqb9::sim
