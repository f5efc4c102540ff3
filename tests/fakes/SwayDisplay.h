#pragma once

#include "EndProcess.h"
#include "UnixSocket.h"

#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

// A sway of the test's own, headless, in a runtime directory of its own. sway refuses to run as
// root, so there it runs as nobody; root's clients may still connect to it.
class SwayDisplay {
public:
    struct Window {
        bool focused = false;
        bool visible = false;
        bool fullscreen = false;
        bool inScratchpad = false;
    };

    static bool available()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("sway")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("swaymsg")).isEmpty();
    }

    // Empty once it runs; otherwise what it said.
    QString start()
    {
        QFile config(runtime_.filePath(QStringLiteral("config")));
        if (!config.open(QIODevice::WriteOnly) || config.write("xwayland disable\n") < 0)
            return QStringLiteral("cannot write its configuration");
        config.close();
        QStringList command{QStringLiteral("sway"), QStringLiteral("-c"), config.fileName()};
        if (::geteuid() == 0) {
            constexpr uid_t kNobody = 65534;
            if (::chown(QFile::encodeName(runtime_.path()).constData(), kNobody, kNobody) != 0)
                return QStringLiteral("cannot hand its runtime directory to nobody");
            command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups")} +
                      command;
            command.prepend(QStringLiteral("setpriv"));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK", "I3SOCK"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        compositor_.setProcessEnvironment(environment);
        compositor_.setProcessChannelMode(QProcess::MergedChannels);
        compositor_.start(QStandardPaths::findExecutable(command.takeFirst()), command);
        const bool up = QTest::qWaitFor(
            [&] {
                const QDir runtime(runtime_.path());
                // Sockets are system files to QDir.
                const QStringList ipc =
                    runtime.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
                const QStringList wayland =
                    runtime.entryList({QStringLiteral("wayland-?")}, QDir::System);
                if (!ipc.isEmpty() && !wayland.isEmpty()) {
                    ipcSocket_ = runtime.filePath(ipc.first());
                    waylandDisplay_ = wayland.first();
                }
                return (!ipcSocket_.isEmpty() && acceptsConnections(ipcSocket_) &&
                        acceptsConnections(runtime.filePath(waylandDisplay_))) ||
                       compositor_.state() == QProcess::NotRunning;
            },
            15000);
        if (up && compositor_.state() == QProcess::Running)
            return {};
        const QString said = QString::fromLocal8Bit(compositor_.readAll()).trimmed();
        return said.section(u'\n', -3);
    }

    QString runtimeDirectory() const { return runtime_.path(); }
    const QString& waylandDisplay() const { return waylandDisplay_; }
    const QString& ipcSocket() const { return ipcSocket_; }

    // The windows as `swaymsg -t get_tree` shows them, by their process.
    QHash<qint64, Window> windows() const
    {
        QProcess swaymsg;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SWAYSOCK"), ipcSocket_);
        swaymsg.setProcessEnvironment(environment);
        swaymsg.start(QStandardPaths::findExecutable(QStringLiteral("swaymsg")),
                      {QStringLiteral("-t"), QStringLiteral("get_tree")});
        swaymsg.waitForFinished();
        QHash<qint64, Window> windows;
        collect(QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object(), false, windows);
        return windows;
    }

    ~SwayDisplay() { endProcess(compositor_); }

private:
    static void collect(const QJsonObject& node, bool inScratchpad, QHash<qint64, Window>& into)
    {
        if (node[QLatin1String("type")].toString() == QLatin1String("workspace"))
            inScratchpad = node[QLatin1String("name")].toString() == QLatin1String("__i3_scratch");
        if (node.contains(QLatin1String("pid"))) {
            into.insert(node[QLatin1String("pid")].toInteger(),
                        {node[QLatin1String("focused")].toBool(),
                         node[QLatin1String("visible")].toBool(),
                         node[QLatin1String("fullscreen_mode")].toInt() == 1, inScratchpad});
        }
        for (const char* children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue child : node[QLatin1String(children)].toArray())
                collect(child.toObject(), inScratchpad, into);
        }
    }

    QTemporaryDir runtime_;
    QProcess compositor_;
    QString waylandDisplay_;
    QString ipcSocket_;
};
