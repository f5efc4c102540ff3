#pragma once

#include <QObject>
#include <functional>
#include <sys/types.h>

class QTimer;

// Reaps the programs the launcher started, as each one ends, so that none lingers as a zombie.
// It waits on a pidfd for each child from the event loop; where the system has none, it looks
// for ended children once a second instead. Children still running when it goes are left to the
// system.
class cChildReaper : public QObject {
    Q_OBJECT

public:
    explicit cChildReaper(QObject* parent = nullptr) : QObject(parent) {}
    ~cChildReaper() override;
    // Called with the child's wait status once it has been reaped.
    using Ended = std::function<void(int waitStatus)>;
    void watch(pid_t child, Ended ended = {});

private:
    void reapEnded();

    QList<std::pair<pid_t, Ended>> polled_;
    QTimer* poll_ = nullptr;
};
