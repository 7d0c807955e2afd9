#include "cli/interrupt.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tqb9::cli {

#ifdef Q_OS_UNIX
namespace {

int s_pipe[2] = {-1, -1};
volatile std::sig_atomic_t s_received = 0;
struct sigaction s_oldInt {};
struct sigaction s_oldTerm {};

extern "C" void onSignal(int signalNumber)
{
    if (s_received) {
        // Asked twice: the user no longer wants to wait for the step to wind down.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    s_received = 1;
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = savedErrno;
}

bool makePipe()
{
    if (::pipe(s_pipe) != 0)
        return false;
    for (const int fd : s_pipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

} // namespace

InterruptNotifier::InterruptNotifier(QObject* parent) : QObject(parent)
{
    if (s_pipe[0] >= 0 || !makePipe())
        return; // one per process; a second one stays inert
    s_received = 0;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptNotifier::readPipe);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A shell starts background jobs with SIGINT ignored so that Ctrl-C reaches only the
    // foreground; that choice is kept.
    ::sigaction(SIGINT, nullptr, &s_oldInt);
    if (s_oldInt.sa_handler != SIG_IGN)
        ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, &s_oldTerm);
}

InterruptNotifier::~InterruptNotifier()
{
    if (!m_notifier)
        return;
    ::sigaction(SIGINT, &s_oldInt, nullptr);
    ::sigaction(SIGTERM, &s_oldTerm, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

void InterruptNotifier::readPipe()
{
    unsigned char byte = 0;
    while (::read(s_pipe[0], &byte, 1) == 1) {
        if (m_signal == 0) {
            m_signal = byte;
            emit interrupted(m_signal);
        }
    }
}

#else

InterruptNotifier::InterruptNotifier(QObject* parent) : QObject(parent) {}
InterruptNotifier::~InterruptNotifier() = default;
void InterruptNotifier::readPipe() {}

#endif

} // namespace tqb9::cli
