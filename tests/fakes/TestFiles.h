#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Whole-file helpers for tests that work with real files.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Puts something that is no regular file at `path`: "fifo", "socket", "device" (a link to
// /dev/null) or "directory".
inline bool makeNonRegularFile(const QString& path, const QString& kind)
{
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0644) == 0;
    if (kind == QLatin1String("device"))
        return ::symlink("/dev/null", name.constData()) == 0;
    if (kind == QLatin1String("directory"))
        return ::mkdir(name.constData(), 0755) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (kind != QLatin1String("socket") || name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}
