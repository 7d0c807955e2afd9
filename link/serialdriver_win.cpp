#include "link/serialdriver.h"

#include <deque>
#include <mutex>
#include <QElapsedTimer>
#include <QtGlobal>
#include <windows.h>

namespace tqb9 {

bool isLeftoverAbort(const QSerialPort& port)
{
    // QSerialPort words a system error with qt_error_string, and keeps no code of it.
    return port.error() == QSerialPort::ResourceError &&
           port.errorString() == qt_error_string(ERROR_OPERATION_ABORTED);
}

void retirePort(std::unique_ptr<QSerialPort> port)
{
    // Far longer than Wine's wait thread takes to see its handle closed (a poll each millisecond),
    // even on a loaded machine.
    constexpr qint64 keepMs = 2000;
    struct Retired {
        std::unique_ptr<QSerialPort> port;
        QElapsedTimer since;
    };
    // Never destroyed: ports retired just before the program ends are left to the system rather
    // than freed while a wait may still write into them.
    static auto* const retired = new std::deque<Retired>;
    static std::mutex mutex;

    // Detached from its thread, the closed object may be freed by whichever thread retires the
    // next port.
    port->moveToThread(nullptr);
    std::deque<Retired> expired;
    {
        const std::lock_guard lock(mutex);
        while (!retired->empty() && retired->front().since.elapsed() > keepMs) {
            expired.push_back(std::move(retired->front()));
            retired->pop_front();
        }
        Retired entry{std::move(port), {}};
        entry.since.start();
        retired->push_back(std::move(entry));
    }
}

} // namespace tqb9
