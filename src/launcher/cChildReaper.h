#pragma once

#include <QObject>
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
    void watch(pid_t child);

private:
    void reapEnded();

    QList<pid_t> polled_;
    QTimer* poll_ = nullptr;
};
