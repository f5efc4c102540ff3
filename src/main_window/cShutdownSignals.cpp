#include "cShutdownSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The only state a signal handler may reach: where it writes its byte; -1 while none lives.
std::atomic<int> signalWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int)
{
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalWriteEnd.load(), &byte, 1);
    errno = savedErrno;
}

} // namespace

cShutdownSignals::cShutdownSignals(QObject* parent) : QObject(parent)
{
    if (signalWriteEnd.load() != -1)
        throw std::logic_error("a second cShutdownSignals while one lives");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipe_) != 0)
        return;
    signalWriteEnd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &cShutdownSignals::drain);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kHandled); ++i) {
        ::sigaction(kHandled[i], nullptr, &previous_[i]);
        if (previous_[i].sa_handler != SIG_IGN)
            installed_[i] = ::sigaction(kHandled[i], &action, nullptr) == 0;
    }
}

cShutdownSignals::~cShutdownSignals()
{
    for (std::size_t i = 0; i < std::size(kHandled); ++i) {
        if (installed_[i])
            ::sigaction(kHandled[i], &previous_[i], nullptr);
    }
    if (pipe_[0] == -1)
        return;
    delete notifier_;
    signalWriteEnd.store(-1);
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void cShutdownSignals::drain()
{
    char bytes[16];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    emit requested();
}
