#include "loopback_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

// Measures how long the built program takes, with a full table of 32,767 pairs, from being
// started to listening on its port and to its main window being mapped on an X server.
namespace {

constexpr int kPort = 2011;
constexpr int kRows = 32767;
constexpr int kRuns = 5;

bool accepts(int port)
{
    const int fd = connectOnce(port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// An X server of the benchmark's own, so that the only window mapped on it is Kormil's.
class XServer {
public:
    bool start()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return false;
        int display = 70;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)))
            ++display;
        name_ = QStringLiteral(":%1").arg(display);
        server_.start(xvfb, {name_, QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp")});
        for (int i = 0; i < 100 && !connection_; ++i) {
            QThread::msleep(50);
            xcb_connection_t* connection = xcb_connect(name_.toLocal8Bit().constData(), nullptr);
            if (xcb_connection_has_error(connection))
                xcb_disconnect(connection);
            else
                connection_ = connection;
        }
        if (!connection_)
            return false;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        return true;
    }

    const QString& name() const { return name_; }

    bool windowMapped()
    {
        bool mapped = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            mapped = mapped || (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(event);
        }
        return mapped;
    }

    ~XServer()
    {
        if (connection_)
            xcb_disconnect(connection_);
        // Asked, not killed, so that it removes its socket and lock file.
        server_.terminate();
        if (!server_.waitForFinished(5000)) {
            server_.kill();
            server_.waitForFinished();
        }
    }

private:
    QProcess server_;
    QString name_;
    xcb_connection_t* connection_ = nullptr;
};

struct StartUp {
    double listeningMs = -1;
    double shownMs = -1;
};

StartUp startOnce(const QString& program, XServer* x)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (x) {
        environment.insert(QStringLiteral("DISPLAY"), x->name());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    } else {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    QProcess kormil;
    kormil.setProcessEnvironment(environment);
    kormil.setStandardErrorFile(QProcess::nullDevice());
    StartUp result;
    const std::int64_t started = nowNs();
    kormil.start(program, {});
    for (const std::int64_t end = started + 20'000'000'000; nowNs() < end;) {
        if (result.listeningMs < 0 && accepts(kPort))
            result.listeningMs = (nowNs() - started) / 1e6;
        if (x && result.shownMs < 0 && x->windowMapped())
            result.shownMs = (nowNs() - started) / 1e6;
        if (result.listeningMs >= 0 && (!x || result.shownMs >= 0))
            break;
        QThread::usleep(200);
    }
    kormil.terminate();
    kormil.waitForFinished(20000);
    return result;
}

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? -1 : samples[samples.size() / 2];
}

QString range(const std::vector<double>& samples)
{
    const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    return QStringLiteral("%1–%2").arg(*low, 0, 'f', 1).arg(*high, 0, 'f', 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (accepts(kPort)) {
        std::printf("TCP port 2011 is in use here; the start-up benchmark needs it.\n");
        return 0;
    }
    // Other builds named on the command line are started in turns with this one, so that a
    // shared machine's load falls on all of them alike.
    QStringList builds = app.arguments().mid(1);
    builds.prepend(QStringLiteral(KORMIL_EXECUTABLE));
    QTemporaryDir dir;
    QStringList programs;
    for (int i = 0; i < builds.size(); ++i) {
        programs << dir.filePath(QStringLiteral("kormil%1").arg(i));
        QFile::copy(builds[i], programs.last());
    }
    QFile ini(dir.filePath(QStringLiteral("kormil.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[pairs]\n");
    for (int i = 0; i < kRows; ++i) {
        const QByteArray n = QByteArray::number(i);
        ini.write("pattern" + n + "=open document number " + n + "\ncommand" + n +
                  "=xdg-open /home/user/documents/" + n + ".odt\nfocus" + n + "=1\n");
    }
    ini.close();
    // Each copy reads the settings file named after it.
    for (const QString& program : programs.mid(1))
        QFile::copy(ini.fileName(), program + QStringLiteral(".ini"));
    if (!programs.isEmpty())
        QFile::rename(ini.fileName(), programs.first() + QStringLiteral(".ini"));

    XServer x;
    const bool haveX = x.start();
    std::vector<std::vector<double>> listening(programs.size()), shown(programs.size());
    for (int run = 0; run < kRuns; ++run) {
        for (int i = 0; i < programs.size(); ++i) {
            const StartUp startUp = startOnce(programs[i], haveX ? &x : nullptr);
            if (startUp.listeningMs < 0 || (haveX && startUp.shownMs < 0)) {
                std::printf("%s did not start within 20 s\n", qPrintable(builds[i]));
                return 1;
            }
            listening[i].push_back(startUp.listeningMs);
            shown[i].push_back(startUp.shownMs);
        }
    }
    for (int i = 0; i < programs.size(); ++i) {
        if (programs.size() > 1)
            std::printf("%s\n", qPrintable(builds[i]));
        std::printf("%-44s %.1f ms (median of %d starts; %s)\n",
                    "start to listening, 32,767 pairs:", median(listening[i]), kRuns,
                    qPrintable(range(listening[i])));
        if (haveX)
            std::printf("%-44s %.1f ms (Xvfb; %s)\n",
                        "start to the window shown, 32,767 pairs:", median(shown[i]),
                        qPrintable(range(shown[i])));
        else
            std::printf("%-44s not measured: no Xvfb (package xvfb)\n",
                        "start to the window shown:");
    }
    return 0;
}
