#include "cli/interrupt.h"

#include <atomic>
#include <csignal>
#include <QMetaObject>
#include <windows.h>

namespace tqb9::cli {
namespace {

// The console runs its handler on a thread of its own; the number crosses to the event loop's
// thread through these and a queued call.
std::atomic<int> s_received{0};
std::atomic<InterruptNotifier*> s_notifier{nullptr};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    int signalNumber = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signalNumber = SIGINT;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process a few seconds after these whatever the handler does; the
        // best left is to stop the step cleanly, as SIGTERM does elsewhere.
        signalNumber = SIGTERM;
        break;
    default:
        return FALSE;
    }
    int expected = 0;
    if (!s_received.compare_exchange_strong(expected, signalNumber))
        return FALSE; // asked twice: let the default handler end the program at once
    if (InterruptNotifier* notifier = s_notifier.load()) {
        QMetaObject::invokeMethod(notifier, "readPipe", Qt::QueuedConnection);
    }
    return TRUE;
}

} // namespace

void installSignalHandling()
{
    // Writes to a closed pipe fail with an error on Windows rather than a signal, and there is
    // no hang-up signal to ignore.
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptNotifier::InterruptNotifier(QObject* parent) : QObject(parent)
{
    s_notifier.store(this);
    // A Ctrl-C that came before this existed still stops the run at its first wait.
    if (s_received.load() != 0)
        QMetaObject::invokeMethod(this, &InterruptNotifier::readPipe, Qt::QueuedConnection);
}

InterruptNotifier::~InterruptNotifier()
{
    s_notifier.store(nullptr);
}

void InterruptNotifier::deliver(int signalNumber)
{
    if (m_signal != 0)
        return;
    m_signal = signalNumber;
    emit interrupted(m_signal);
}

void InterruptNotifier::readPipe()
{
    if (const int received = s_received.load())
        deliver(received);
}

} // namespace tqb9::cli
