#pragma once

#include "EndProcess.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// An X server of the test's own on a display number nobody uses, so that real windows can be
// looked at and clicked without a screen.
class XvfbDisplay {
public:
    static bool available() { return !QStandardPaths::findExecutable(xvfb()).isEmpty(); }

    bool start()
    {
        int display = 90;
        while (QFile::exists(socketPath(display)))
            ++display;
        name_ = QStringLiteral(":%1").arg(display);
        server_.start(QStandardPaths::findExecutable(xvfb()),
                      {name_, QStringLiteral("-screen"), QStringLiteral("0"),
                       QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
        return server_.waitForStarted() &&
               QTest::qWaitFor([&] { return QFile::exists(socketPath(display)); }, 10000);
    }

    // The value of DISPLAY that reaches this server.
    const QString& name() const { return name_; }

    ~XvfbDisplay() { endProcess(server_); }

private:
    static QString xvfb() { return QStringLiteral("Xvfb"); }
    static QString socketPath(int display)
    {
        return QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
    }

    QProcess server_;
    QString name_;
};
