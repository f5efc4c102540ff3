#pragma once

#include <QFile>
#include <QString>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Whether a server listens on the socket at that path yet.
inline bool acceptsConnections(const QString& path)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    const bool accepted =
        ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return accepted;
}
