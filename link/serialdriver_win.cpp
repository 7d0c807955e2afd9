#include "link/serialdriver.h"

#include <QtGlobal>
#include <windows.h>

namespace tqb9 {

bool isLeftoverAbort(const QSerialPort& port)
{
    // QSerialPort words a system error with qt_error_string, and keeps no code of it.
    return port.error() == QSerialPort::ResourceError &&
           port.errorString() == qt_error_string(ERROR_OPERATION_ABORTED);
}

} // namespace tqb9
