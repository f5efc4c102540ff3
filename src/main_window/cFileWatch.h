#pragma once

#include <QObject>
#include <QString>
#include <array>

class QFileSystemWatcher;
class QTimer;

// Tells when a file may have changed: written, replaced by a rename (as editors and the settings
// store save), made, removed, or given other permissions. It watches the file and its folder,
// waits until a burst of events has settled, and then says so only when the file's status, or
// its folder's permissions, differ from when it last looked; so a failed save, which leaves
// both as they were, is not taken for a change.
class cFileWatch : public QObject {
    Q_OBJECT

public:
    cFileWatch(const QString& path, QObject* parent);

    static constexpr int kSettleMs = 100;

signals:
    void changed();

private:
    using Status = std::array<long long, 12>;

    Status status() const;
    void noticed();
    void settled();
    void watchFile();

    QString path_;
    QString folder_;
    QFileSystemWatcher* watcher_;
    QTimer* settle_;
    Status last_;
};
