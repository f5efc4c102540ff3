#include "loopback_client.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

// Measures the whole path of a voice command on the built program: from a client's send() to
// the first instruction of the started command, and compares it with a socat and shell `case`
// dispatcher serving the same table.
namespace {

constexpr int kPort = 2011;
constexpr int kDispatches = 1000;

int connectWithin(int port, int milliseconds)
{
    for (const std::int64_t end = nowNs() + std::int64_t{milliseconds} * 1000000; nowNs() < end;) {
        const int fd = connectOnce(port);
        if (fd >= 0)
            return fd;
        QThread::usleep(200);
    }
    return -1;
}

// Waits for the probe's n-th report and returns it.
std::int64_t waitForReport(const QString& path, int n)
{
    for (const std::int64_t end = nowNs() + 10'000'000'000; nowNs() < end;) {
        QFile report(path);
        if (report.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = report.readAll().split('\n');
            if (lines.size() > n)
                return lines.at(n - 1).toLongLong();
        }
        QThread::usleep(500);
    }
    return -1;
}

struct Latency {
    std::vector<double> ms;
    double seconds = 0;
};

void print(const char* what, Latency latency)
{
    std::sort(latency.ms.begin(), latency.ms.end());
    if (latency.ms.empty()) {
        std::printf("%-44s no dispatch measured\n", what);
        return;
    }
    const auto at = [&](double q) { return latency.ms[std::size_t(q * (latency.ms.size() - 1))]; };
    std::printf("%-44s p50 %6.2f ms  p99 %6.2f ms  max %7.2f ms  %6.0f dispatches/s\n", what,
                at(0.5), at(0.99), latency.ms.back(), latency.ms.size() / latency.seconds);
}

QByteArray table(int rows, const QString& probe, const QString& report)
{
    QByteArray ini = "[pairs]\n";
    for (int i = 0; i < rows; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray command =
            i == rows - 1 ? (probe + u' ' + report).toLocal8Bit() : QByteArray("true");
        ini += "pattern" + n + "=say number " + n + "\ncommand" + n + "=" + command + "\nfocus" +
               n + "=1\n";
    }
    return ini;
}

QByteArray lastPattern(int rows)
{
    return "say number " + QByteArray::number(rows - 1);
}

struct Kormil {
    QTemporaryDir dir;
    QProcess process;

    bool start(int rows, const QString& probe, const QString& report)
    {
        const QString program = dir.filePath(QStringLiteral("kormil"));
        QFile::copy(QStringLiteral(KORMIL_EXECUTABLE), program);
        QFile ini(dir.filePath(QStringLiteral("kormil.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        ini.write(table(rows, probe, report));
        ini.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, {});
        const int fd = connectWithin(kPort, 10000);
        if (fd < 0)
            return false;
        ::close(fd); // the watchdog listens again within a second
        QThread::msleep(1100);
        return true;
    }

    qint64 residentKilobytes() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
        return -1;
    }

    ~Kormil()
    {
        process.terminate();
        process.waitForFinished(10000);
    }
};

// With a pause before each send, the program is idle when the text arrives, as it is between
// spoken commands.
Latency dispatchOnOneConnection(const QByteArray& text, const QString& report, int count,
                                int pauseMs = 0)
{
    Latency latency;
    QFile::remove(report);
    const int fd = connectWithin(kPort, 5000);
    if (fd < 0)
        return latency;
    const std::int64_t begin = nowNs();
    for (int i = 1; i <= count; ++i) {
        QThread::msleep(static_cast<unsigned long>(pauseMs));
        const std::int64_t sent = nowNs();
        if (::send(fd, text.constData(), static_cast<std::size_t>(text.size()), 0) != text.size())
            break;
        const std::int64_t started = waitForReport(report, i);
        if (started < 0)
            break;
        latency.ms.push_back((started - sent) / 1e6);
    }
    latency.seconds = (nowNs() - begin) / 1e9;
    ::close(fd);
    return latency;
}

Latency dispatchOneConnectionEach(const QByteArray& text, const QString& report, int port,
                                  int count)
{
    Latency latency;
    QFile::remove(report);
    const std::int64_t begin = nowNs();
    for (int i = 1; i <= count; ++i) {
        const int fd = connectWithin(port, 5000);
        if (fd < 0)
            break;
        const std::int64_t sent = nowNs();
        ::send(fd, text.constData(), static_cast<std::size_t>(text.size()), 0);
        ::shutdown(fd, SHUT_WR);
        const std::int64_t started = waitForReport(report, i);
        ::close(fd);
        if (started < 0)
            break;
        latency.ms.push_back((started - sent) / 1e6);
    }
    latency.seconds = (nowNs() - begin) / 1e9;
    return latency;
}

Latency socatDispatcher(int rows, const QString& probe, const QString& report, int count)
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        return {};
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("dispatch.sh"));
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write("text=$(cat)\ncase \"$text\" in\n");
    for (int i = 0; i < rows; ++i) {
        const QByteArray command = i == rows - 1 ? (probe + u' ' + report).toLocal8Bit() : "true";
        file.write("  'say number " + QByteArray::number(i) + "') exec " + command + " ;;\n");
    }
    file.write("esac\n");
    file.close();
    constexpr int kSocatPort = 2012;
    QProcess server;
    server.start(socat, {QStringLiteral("TCP-LISTEN:%1,reuseaddr,fork").arg(kSocatPort),
                         QStringLiteral("SYSTEM:sh %1").arg(script)});
    server.waitForStarted();
    Latency latency = dispatchOneConnectionEach(lastPattern(rows), report, kSocatPort, count);
    server.kill();
    server.waitForFinished();
    return latency;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString probe = QStringLiteral(PROBE_EXECUTABLE);
    QTemporaryDir scratch;
    const QString report = scratch.filePath(QStringLiteral("report"));
    {
        QThread::msleep(0);
        const int busy = connectOnce(kPort);
        if (busy >= 0) {
            ::close(busy);
            std::printf("TCP port 2011 is in use here; the dispatch benchmark needs it.\n");
            return 0;
        }
    }

    for (int rows : {10, 10000}) {
        Kormil kormil;
        if (!kormil.start(rows, probe, report)) {
            std::printf("Kormil did not start listening\n");
            return 1;
        }
        const qint64 idle = kormil.residentKilobytes();
        const Latency latency = dispatchOnOneConnection(lastPattern(rows), report, kDispatches);
        print(qPrintable(QStringLiteral("Kormil, %1 pairs, one connection:").arg(rows)), latency);
        const Latency idleBetween =
            dispatchOnOneConnection(lastPattern(rows), report, kDispatches / 4, 20);
        print("  the same, idle between strings (20 ms):", idleBetween);
        const Latency shell = socatDispatcher(rows, probe, report, kDispatches / 10);
        print(qPrintable(QStringLiteral("socat + sh case, %1 pairs:").arg(rows)), shell);
        if (!latency.ms.empty() && !shell.ms.empty()) {
            std::vector<double> a = latency.ms, b = shell.ms;
            std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
            std::nth_element(b.begin(), b.begin() + b.size() / 2, b.end());
            std::printf("%-44s %.1f x Kormil's median latency\n", "  socat + sh case takes",
                        b[b.size() / 2] / a[a.size() / 2]);
        }
        // Nine more rounds on fresh connections make 10,000 dispatches in all; the last one, and
        // strings with pauses after it, show what a long log (two lines a dispatch) costs.
        int dispatched = static_cast<int>(latency.ms.size() + idleBetween.ms.size());
        Latency last;
        for (int round = 0; round < 9; ++round) {
            last = dispatchOnOneConnection(lastPattern(rows), report, kDispatches);
            dispatched += static_cast<int>(last.ms.size());
        }
        print("  Kormil, the last 1,000 of 10,000:", last);
        const Latency idleAfter =
            dispatchOnOneConnection(lastPattern(rows), report, kDispatches / 4, 20);
        dispatched += static_cast<int>(idleAfter.ms.size());
        print("  the same, idle between strings (20 ms):", idleAfter);
        std::printf("%-44s idle %lld kB, after %d dispatches %lld kB\n", "  resident memory:", idle,
                    dispatched, kormil.residentKilobytes());
    }
    return 0;
}
