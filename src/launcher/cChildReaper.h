#pragma once

#include <QObject>
#include <functional>
#include <sys/types.h>

class QTimer;

// Reaps the programs the launcher started, as each one ends, so that none lingers as a zombie
// for more than a second. It holds no descriptor for them, however many run: while any is
// running it asks the system once a second which of them have ended. Children still running
// when it goes are left to the system.
class cChildReaper : public QObject {
    Q_OBJECT

public:
    explicit cChildReaper(QObject* parent = nullptr);
    // Called with the child's wait status once it has been reaped.
    using Ended = std::function<void(int waitStatus)>;
    void watch(pid_t child, Ended ended = {});

private:
    void reapEnded();

    QList<std::pair<pid_t, Ended>> running_;
    QTimer* poll_;
};
