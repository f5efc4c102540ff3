#pragma once

#include "EndProcess.h"

#include <QProcess>
#include <QStandardPaths>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// An X server of the test's own on a display number that the server itself picks among the free
// ones, so that real windows can be looked at and clicked without a screen, also by tests
// running side by side.
class XvfbDisplay {
public:
    static bool available() { return !QStandardPaths::findExecutable(xvfb()).isEmpty(); }

    bool start()
    {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            return false;
        ::fcntl(pipe[1], F_SETFD, 0); // the server writes its display number here once it is up
        server_.start(QStandardPaths::findExecutable(xvfb()),
                      {QStringLiteral("-displayfd"), QString::number(pipe[1]),
                       QStringLiteral("-screen"), QStringLiteral("0"),
                       QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
        ::close(pipe[1]);
        QString number;
        if (server_.waitForStarted()) {
            pollfd readable{pipe[0], POLLIN, 0};
            char digit = 0;
            while (::poll(&readable, 1, 10000) == 1 && ::read(pipe[0], &digit, 1) == 1 &&
                   digit != '\n')
                number += QLatin1Char(digit);
        }
        ::close(pipe[0]);
        name_ = u':' + number;
        return !number.isEmpty();
    }

    // The value of DISPLAY that reaches this server.
    const QString& name() const { return name_; }

    ~XvfbDisplay() { endProcess(server_); }

private:
    static QString xvfb() { return QStringLiteral("Xvfb"); }

    QProcess server_;
    QString name_;
};
