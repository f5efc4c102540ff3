#include "cChildReaper.h"

#include <QSocketNotifier>
#include <QTimer>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

cChildReaper::~cChildReaper()
{
    // An enabled watch still holds its pidfd; a disabled one has closed it already.
    for (auto* ended : findChildren<QSocketNotifier*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (ended->isEnabled())
            ::close(static_cast<int>(ended->socket()));
    }
}

namespace {

// True once the child has been reaped, by this call or before.
bool reap(pid_t child, const cChildReaper::Ended& ended)
{
    int status = 0;
    const pid_t reaped = ::waitpid(child, &status, WNOHANG);
    if (reaped == child && ended)
        ended(status);
    return reaped != 0;
}

} // namespace

void cChildReaper::watch(pid_t child, Ended ended)
{
#if defined(SYS_pidfd_open)
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd >= 0) {
        auto* notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this,
                [notifier, pidfd, child, ended = std::move(ended)] {
                    notifier->setEnabled(false);
                    notifier->deleteLater();
                    ::close(pidfd);
                    reap(child, ended);
                });
        return;
    }
#endif
    polled_.append({child, std::move(ended)});
    if (!poll_) {
        poll_ = new QTimer(this);
        connect(poll_, &QTimer::timeout, this, &cChildReaper::reapEnded);
        poll_->start(1000);
    }
}

void cChildReaper::reapEnded()
{
    polled_.removeIf([](const auto& child) { return reap(child.first, child.second); });
}
