#pragma once

#include "EndProcess.h"
#include "UnixSocket.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// A KWin of the test's own (kwin_wayland --virtual) with a session bus of its own, in a runtime
// directory of its own. Where the file capability of the installed kwin_wayland keeps it from
// starting (a container's bounding set may lack it), a plain copy runs; KWin finds its platform
// plugin by that file name, so the copy keeps it. A program named at the start is offered KWin's
// window management protocol, as an installed desktop entry does for Kormil.
class KWinDisplay {
public:
    struct Window {
        bool active = false;
        bool minimized = false;
        bool maximized = false;
        bool skipTaskbar = false;
        bool skipSwitcher = false;
    };

    static bool available()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("kwin_wayland")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
    }

    // Empty once it runs; otherwise why not.
    QString start(const QString& trusted)
    {
        bus_.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
        if (!QTest::qWaitFor([&] { return bus_.canReadLine(); }, 10000))
            return QStringLiteral("its session bus did not start");
        busAddress_ = QString::fromLocal8Bit(bus_.readLine()).trimmed();
        connection_ = QDBusConnection::connectToBus(busAddress_, QStringLiteral("kwin-display"));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress_);
        environment.insert(QStringLiteral("KWIN_COMPOSE"), QStringLiteral("Q"));
        for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
            environment.insert(QLatin1String(name), runtime_.filePath(QLatin1String(name)));
        if (const QString why = trust(trusted, environment); !why.isEmpty())
            return why;
        compositor_.setProcessEnvironment(environment);
        compositor_.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList arguments{QStringLiteral("--virtual"),
                                    QStringLiteral("--socket"),
                                    socket(),
                                    QStringLiteral("--width"),
                                    QStringLiteral("1280"),
                                    QStringLiteral("--height"),
                                    QStringLiteral("800"),
                                    QStringLiteral("--no-lockscreen"),
                                    QStringLiteral("--no-global-shortcuts")};
        const QString installed = QStandardPaths::findExecutable(QStringLiteral("kwin_wayland"));
        compositor_.start(installed, arguments);
        if (!compositor_.waitForStarted()) {
            const QString copy = copies_.filePath(QStringLiteral("kwin_wayland"));
            if (!QFile::copy(installed, copy))
                return QStringLiteral("cannot copy kwin_wayland");
            compositor_.start(copy, arguments);
        }
        const bool up = QTest::qWaitFor(
            [&] {
                return (acceptsConnections(runtime_.filePath(socket())) &&
                        connection_.interface()
                            ->isServiceRegistered(QStringLiteral("org.kde.KWin"))
                            .value()) ||
                       compositor_.state() == QProcess::NotRunning;
            },
            20000);
        if (up && compositor_.state() == QProcess::Running)
            return {};
        output_ += compositor_.readAll();
        return QString::fromLocal8Bit(output_).trimmed().section(u'\n', -3);
    }

    QString runtimeDirectory() const { return runtime_.path(); }
    static QString socket() { return QStringLiteral("kormil-kwin"); }
    const QString& busAddress() const { return busAddress_; }

    bool isScriptLoaded(const QString& plugin)
    {
        return QDBusReply<bool>(
                   connection_.call(scripting(QStringLiteral("isScriptLoaded")) << plugin))
            .value();
    }

    // The windows by their process, their state as KWin tells it.
    QHash<qint64, Window> windows()
    {
        // Only a script sees which window is active and which process it is of.
        const QString mark = QStringLiteral("kormil-window-%1").arg(++reads_);
        QFile script(runtime_.filePath(mark + QStringLiteral(".js")));
        if (!script.open(QIODevice::WriteOnly) ||
            script.write(QStringLiteral(
                             "const six = workspace.windowList !== undefined;"
                             "const active = six ? workspace.activeWindow : workspace.activeClient;"
                             "(six ? workspace.windowList() : workspace.clientList())"
                             ".forEach(w => print('%1', w.pid, w.internalId, w === active));"
                             "print('%1 end');")
                             .arg(mark)
                             .toUtf8()) < 0)
            return {};
        script.close();
        const int id = QDBusReply<int>(connection_.call(scripting(QStringLiteral("loadScript"))
                                                        << script.fileName() << mark))
                           .value();
        for (const QString& path :
             {QStringLiteral("/%1").arg(id), QStringLiteral("/Scripting/Script%1").arg(id)})
            connection_.call(QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), path,
                                                            QStringLiteral("org.kde.kwin.Script"),
                                                            QStringLiteral("run")));
        const QByteArray end = "js: " + mark.toUtf8() + " end";
        if (!QTest::qWaitFor(
                [&] {
                    output_ += compositor_.readAll();
                    return output_.contains(end);
                },
                5000))
            return {};
        connection_.call(scripting(QStringLiteral("unloadScript")) << mark);
        QHash<qint64, Window> windows;
        const QByteArray line = "js: " + mark.toUtf8() + ' ';
        for (const QByteArray& said : output_.split('\n')) {
            const QList<QByteArray> words = said.mid(line.size()).split(' ');
            if (!said.startsWith(line) || words.size() != 3)
                continue;
            const QVariantMap info =
                QDBusReply<QVariantMap>(
                    connection_.call(QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"),
                                                                    QStringLiteral("/KWin"),
                                                                    QStringLiteral("org.kde.KWin"),
                                                                    QStringLiteral("getWindowInfo"))
                                     << QString::fromUtf8(words.at(1))))
                    .value();
            windows.insert(words.at(0).toLongLong(),
                           {words.at(2) == "true", info.value(QStringLiteral("minimized")).toBool(),
                            info.value(QStringLiteral("maximizeHorizontal")).toInt() != 0 &&
                                info.value(QStringLiteral("maximizeVertical")).toInt() != 0,
                            info.value(QStringLiteral("skipTaskbar")).toBool(),
                            info.value(QStringLiteral("skipSwitcher")).toBool()});
        }
        output_.clear();
        return windows;
    }

    ~KWinDisplay()
    {
        endProcess(compositor_);
        endProcess(bus_);
    }

private:
    // KWin finds the desktop entry in the cache kbuildsycoca5 makes.
    QString trust(const QString& program, const QProcessEnvironment& environment)
    {
        QDir().mkpath(runtime_.filePath(QStringLiteral("XDG_DATA_HOME/applications")));
        QFile entry(
            runtime_.filePath(QStringLiteral("XDG_DATA_HOME/applications/kormil-test.desktop")));
        if (!entry.open(QIODevice::WriteOnly) ||
            entry.write("[Desktop Entry]\nType=Application\nName=Kormil test\nExec=" +
                        QFile::encodeName(program) +
                        "\nX-KDE-Wayland-Interfaces=org_kde_plasma_window_management\n") < 0)
            return QStringLiteral("cannot write its desktop entry");
        entry.close();
        const QString cache = QStandardPaths::findExecutable(QStringLiteral("kbuildsycoca5"));
        if (cache.isEmpty())
            return QStringLiteral("needs kbuildsycoca5 (package kwin-wayland brings it)");
        QProcess build;
        build.setProcessEnvironment(environment);
        build.start(cache, {QStringLiteral("--noincremental")});
        if (!build.waitForFinished(60000) || build.exitCode() != 0)
            return QStringLiteral("kbuildsycoca5 failed: ") +
                   QString::fromLocal8Bit(build.readAllStandardError()).trimmed();
        return {};
    }

    static QDBusMessage scripting(const QString& method)
    {
        return QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"),
                                              QStringLiteral("/Scripting"),
                                              QStringLiteral("org.kde.kwin.Scripting"), method);
    }

    QTemporaryDir runtime_;
    QTemporaryDir copies_;
    QProcess bus_;
    QProcess compositor_;
    QString busAddress_;
    QDBusConnection connection_{QString()};
    QByteArray output_;
    int reads_ = 0;
};
