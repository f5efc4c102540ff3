#include "cChildReaper.h"

#include <QTimer>
#include <sys/wait.h>

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

cChildReaper::cChildReaper(QObject* parent) : QObject(parent), poll_(new QTimer(this))
{
    poll_->setInterval(1000);
    connect(poll_, &QTimer::timeout, this, &cChildReaper::reapEnded);
}

void cChildReaper::watch(pid_t child, Ended ended)
{
    running_.append({child, std::move(ended)});
    if (!poll_->isActive())
        poll_->start();
}

void cChildReaper::reapEnded()
{
    running_.removeIf([](const auto& child) { return reap(child.first, child.second); });
    if (running_.isEmpty())
        poll_->stop();
}
