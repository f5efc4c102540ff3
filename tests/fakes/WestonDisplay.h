#pragma once

#include "EndProcess.h"
#include "UnixSocket.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// A Wayland compositor of the test's own (Weston, headless) in a runtime directory of its own,
// with XWayland, so that X programs run as they do on a Wayland desktop, or without.
class WestonDisplay {
public:
    static bool available()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("Xwayland")).isEmpty();
    }

    bool start(const QString& socket = QStringLiteral("kormil-test"), bool withX = true)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        compositor_.setProcessEnvironment(environment);
        compositor_.setProcessChannelMode(QProcess::MergedChannels);
        compositor_.start(QStandardPaths::findExecutable(QStringLiteral("weston")),
                          {QStringLiteral("--backend=headless-backend.so"),
                           withX ? QStringLiteral("--xwayland") : QStringLiteral("--no-config"),
                           QStringLiteral("--socket=") + socket, QStringLiteral("--width=1024"),
                           QStringLiteral("--height=768"), QStringLiteral("--idle-time=0")});
        static const QRegularExpression listening(
            QStringLiteral("xserver listening on display (:\\d+)"));
        if (!withX) {
            return QTest::qWaitFor(
                       [&] {
                           return acceptsConnections(runtime_.filePath(socket)) ||
                                  compositor_.state() == QProcess::NotRunning;
                       },
                       15000) &&
                   compositor_.state() == QProcess::Running;
        }
        return QTest::qWaitFor(
                   [&] {
                       output_ += compositor_.readAll();
                       const QRegularExpressionMatch found =
                           listening.match(QString::fromLocal8Bit(output_));
                       name_ = found.captured(1);
                       return found.hasMatch() || compositor_.state() == QProcess::NotRunning;
                   },
                   15000) &&
               !name_.isEmpty();
    }

    // The value of DISPLAY that reaches its X server.
    const QString& name() const { return name_; }
    // Where its Wayland socket is, as XDG_RUNTIME_DIR names it.
    QString runtimeDirectory() const { return runtime_.path(); }

    ~WestonDisplay() { endProcess(compositor_); }

private:
    QTemporaryDir runtime_;
    QProcess compositor_;
    QByteArray output_;
    QString name_;
};
