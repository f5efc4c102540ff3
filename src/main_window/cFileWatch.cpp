#include "cFileWatch.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>
#include <cerrno>
#include <sys/stat.h>

cFileWatch::cFileWatch(const QString& path, QObject* parent)
    : QObject(parent), path_(QFileInfo(path).absoluteFilePath()),
      folder_(QFileInfo(path_).absolutePath()), watcher_(new QFileSystemWatcher(this)),
      settle_(new QTimer(this))
{
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &cFileWatch::noticed);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &cFileWatch::noticed);
    connect(settle_, &QTimer::timeout, this, &cFileWatch::settled);
    if (QFileInfo(folder_).isDir())
        watcher_->addPath(folder_);
    last_ = status();
    watchFile();
}

cFileWatch::Status cFileWatch::status() const
{
    Status now{};
    struct stat file {};
    if (::stat(QFile::encodeName(path_).constData(), &file) != 0) {
        now[0] = errno;
    } else {
        now = {0,
               static_cast<long long>(file.st_dev),
               static_cast<long long>(file.st_ino),
               file.st_size,
               file.st_mtim.tv_sec,
               file.st_mtim.tv_nsec,
               file.st_ctim.tv_sec,
               file.st_ctim.tv_nsec};
    }
    // Only the folder's permissions: its times change with every file made in it.
    struct stat folder {};
    if (::stat(QFile::encodeName(folder_).constData(), &folder) == 0) {
        now[8] = folder.st_mode;
        now[9] = folder.st_uid;
        now[10] = folder.st_gid;
        now[11] = static_cast<long long>(folder.st_ino);
    }
    return now;
}

void cFileWatch::noticed()
{
    watchFile();
    // Not restarted by later events: a file written on and on is still looked at.
    if (!settle_->isActive())
        settle_->start();
}

void cFileWatch::settled()
{
    const Status now = status();
    if (now == last_)
        return;
    // A file replaced while someone kept the old one open is still watched under its old
    // inode: watch the new one.
    if ((now[2] != last_[2] || now[1] != last_[1]) && watcher_->files().contains(path_))
        watcher_->removePath(path_);
    last_ = now;
    watchFile();
    emit changed();
}

void cFileWatch::watchFile()
{
    // The folder's watch tells when a missing or unreadable file comes; adding it before would
    // only fail.
    if (!watcher_->files().contains(path_) && QFileInfo(path_).isReadable())
        watcher_->addPath(path_);
}
