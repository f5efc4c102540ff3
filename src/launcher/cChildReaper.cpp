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

void cChildReaper::watch(pid_t child)
{
#if defined(SYS_pidfd_open)
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd >= 0) {
        auto* ended = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
        connect(ended, &QSocketNotifier::activated, this, [ended, pidfd, child] {
            ::waitpid(child, nullptr, WNOHANG);
            ended->setEnabled(false);
            ended->deleteLater();
            ::close(pidfd);
        });
        return;
    }
#endif
    polled_.append(child);
    if (!poll_) {
        poll_ = new QTimer(this);
        connect(poll_, &QTimer::timeout, this, &cChildReaper::reapEnded);
        poll_->start(1000);
    }
}

void cChildReaper::reapEnded()
{
    polled_.removeIf([](pid_t child) { return ::waitpid(child, nullptr, WNOHANG) != 0; });
}
