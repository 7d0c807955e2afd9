#include "cli/interrupt.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <QSocketNotifier>
#include <unistd.h>

namespace tqb9::cli {
namespace {

int s_pipe[2] = {-1, -1};
volatile std::sig_atomic_t s_received = 0;

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

void installSignalHandling()
{
    // A write to a pipe nobody reads then fails with EPIPE, which the writer handles.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    if (s_pipe[0] >= 0 || !makePipe())
        return;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A shell starts background jobs with SIGINT ignored so that Ctrl-C reaches only the
    // foreground; that choice is kept.
    struct sigaction old {};
    ::sigaction(SIGINT, nullptr, &old);
    if (old.sa_handler != SIG_IGN)
        ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

InterruptNotifier::InterruptNotifier(QObject* parent) : QObject(parent)
{
    if (s_pipe[0] < 0)
        return;
    // A signal that came before this existed is still in the pipe and wakes the first wait.
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptNotifier::readPipe);
}

InterruptNotifier::~InterruptNotifier() = default;

void InterruptNotifier::deliver(int signalNumber)
{
    if (m_signal != 0)
        return;
    m_signal = signalNumber;
    emit interrupted(m_signal);
}

void InterruptNotifier::readPipe()
{
    unsigned char byte = 0;
    while (::read(s_pipe[0], &byte, 1) == 1)
        deliver(byte);
}

} // namespace tqb9::cli
