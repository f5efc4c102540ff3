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
// the first instruction of the started command. A minimal C dispatcher serving the same table
// runs beside it, and the two are measured in turns in the same run, so that whatever else the
// machine is doing weighs on both alike. A socat and shell `case` dispatcher is measured too.
namespace {

constexpr int kPort = 2011;
constexpr int kSocatPort = 2012;
constexpr int kReferencePort = 2013;
constexpr int kDispatches = 1000;
constexpr int kIdleDispatches = kDispatches / 4;
constexpr int kIdlePauseMs = 20;
// Back-to-back strings go to one dispatcher in blocks this long, then to the other.
constexpr int kBlock = 100;

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

// The file the probe appends its clock reading to, one line each time a dispatcher starts it.
class ProbeReport {
public:
    explicit ProbeReport(QString path) : path_(std::move(path)) { QFile::remove(path_); }
    const QString& path() const { return path_; }

    // The next reading, or -1 when none comes within ten seconds.
    std::int64_t next()
    {
        for (const std::int64_t end = nowNs() + 10'000'000'000; nowNs() < end;) {
            QFile report(path_);
            if (report.open(QIODevice::ReadOnly) && report.seek(read_)) {
                const QByteArray tail = report.readAll();
                const qsizetype lineEnd = tail.indexOf('\n');
                if (lineEnd >= 0) {
                    read_ += lineEnd + 1;
                    return tail.left(lineEnd).toLongLong();
                }
            }
            QThread::usleep(200);
        }
        return -1;
    }

private:
    QString path_;
    qint64 read_ = 0;
};

struct Latency {
    std::vector<double> ms;
    double seconds = 0;

    double at(double quantile) const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::size_t(quantile * double(sorted.size() - 1))];
    }
};

void print(const char* what, const Latency& latency)
{
    if (latency.ms.empty()) {
        std::printf("  %-22s no dispatch measured\n", what);
        return;
    }
    std::printf("  %-22s p50 %6.3f ms  p99 %6.3f ms  max %7.2f ms  %6.0f dispatches/s\n", what,
                latency.at(0.5), latency.at(0.99), latency.at(1.0),
                double(latency.ms.size()) / latency.seconds);
}

void printRatio(const Latency& kormil, const Latency& reference)
{
    if (kormil.ms.empty() || reference.ms.empty())
        return;
    std::printf("  %-22s p50 %6.2f x   p99 %6.2f x\n",
                "Kormil / C reference:", kormil.at(0.5) / reference.at(0.5),
                kormil.at(0.99) / reference.at(0.99));
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

// Kormil with the table in its settings file, and the C reference reading the same file.
struct Dispatchers {
    QTemporaryDir dir;
    QProcess kormil;
    QProcess reference;

    bool start(const QString& kormilBuild, int rows, const QString& probe, const QString& report)
    {
        const QString program = dir.filePath(QStringLiteral("kormil"));
        QFile::copy(kormilBuild, program);
        const QString settings = dir.filePath(QStringLiteral("kormil.ini"));
        QFile ini(settings);
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        ini.write(table(rows, probe, report));
        ini.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        kormil.setProcessEnvironment(environment);
        kormil.setStandardErrorFile(QProcess::nullDevice());
        kormil.start(program, {});
        reference.start(QStringLiteral(REFERENCE_EXECUTABLE),
                        {settings, QString::number(kReferencePort)});
        const int toKormil = connectWithin(kPort, 10000);
        const int toReference = connectWithin(kReferencePort, 10000);
        for (int fd : {toKormil, toReference}) {
            if (fd >= 0)
                ::close(fd);
        }
        if (toKormil < 0 || toReference < 0)
            return false;
        QThread::msleep(1100); // Kormil's watchdog listens again within a second
        return true;
    }

    qint64 residentKilobytes() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(kormil.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
        return -1;
    }

    ~Dispatchers()
    {
        for (QProcess* process : {&kormil, &reference}) {
            process->terminate();
            process->waitForFinished(10000);
        }
    }
};

// One open connection to a dispatcher, and the latencies measured on it.
class Connection {
public:
    explicit Connection(int port) : fd_(connectWithin(port, 5000)) {}
    ~Connection()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends the text count times, each after the pause, and waits each time for the probe.
    bool dispatch(const QByteArray& text, ProbeReport& report, int count, int pauseMs = 0)
    {
        const std::int64_t begin = nowNs();
        bool ok = fd_ >= 0;
        for (int i = 0; ok && i < count; ++i) {
            QThread::msleep(static_cast<unsigned long>(pauseMs));
            const std::int64_t sent = nowNs();
            ok = ::send(fd_, text.constData(), static_cast<std::size_t>(text.size()), 0) ==
                 text.size();
            const std::int64_t started = ok ? report.next() : -1;
            ok = started >= 0;
            if (ok)
                latency.ms.push_back(double(started - sent) / 1e6);
        }
        latency.seconds += double(nowNs() - begin) / 1e9;
        return ok;
    }

    Latency latency;

private:
    int fd_;
};

// Kormil and the reference in turns, each on a connection of its own, `count` strings each.
void interleaved(const QByteArray& text, ProbeReport& report, int count, int block, int pauseMs,
                 Latency& kormil, Latency& reference)
{
    Connection toKormil(kPort);
    Connection toReference(kReferencePort);
    for (int done = 0; done < count; done += block) {
        const int n = std::min(block, count - done);
        if (!toKormil.dispatch(text, report, n, pauseMs) ||
            !toReference.dispatch(text, report, n, pauseMs))
            break;
    }
    kormil = toKormil.latency;
    reference = toReference.latency;
}

Latency socatDispatcher(int rows, const QString& probe, ProbeReport& report, int count)
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
        const QByteArray command =
            i == rows - 1 ? (probe + u' ' + report.path()).toLocal8Bit() : "true";
        file.write("  'say number " + QByteArray::number(i) + "') exec " + command + " ;;\n");
    }
    file.write("esac\n");
    file.close();
    QProcess server;
    server.start(socat, {QStringLiteral("TCP-LISTEN:%1,reuseaddr,fork").arg(kSocatPort),
                         QStringLiteral("SYSTEM:sh %1").arg(script)});
    server.waitForStarted();
    const QByteArray text = lastPattern(rows);
    Latency latency;
    const std::int64_t begin = nowNs();
    for (int i = 0; i < count; ++i) {
        const int fd = connectWithin(kSocatPort, 5000);
        if (fd < 0)
            break;
        const std::int64_t sent = nowNs();
        ::send(fd, text.constData(), static_cast<std::size_t>(text.size()), 0);
        ::shutdown(fd, SHUT_WR);
        const std::int64_t started = report.next();
        ::close(fd);
        if (started < 0)
            break;
        latency.ms.push_back(double(started - sent) / 1e6);
    }
    latency.seconds = double(nowNs() - begin) / 1e9;
    server.kill();
    server.waitForFinished();
    return latency;
}

// Back to back in blocks, then with pauses, printing both dispatchers and their ratio.
int compare(const char* title, const QByteArray& text, ProbeReport& report)
{
    Latency kormil, reference;
    std::printf("%s, back to back (%d strings each, in turns of %d):\n", title, kDispatches,
                kBlock);
    interleaved(text, report, kDispatches, kBlock, 0, kormil, reference);
    print("Kormil:", kormil);
    print("C reference:", reference);
    printRatio(kormil, reference);
    const int dispatched = int(kormil.ms.size());
    std::printf("%s, idle between strings (%d strings each, %d ms pauses, in turns):\n", title,
                kIdleDispatches, kIdlePauseMs);
    interleaved(text, report, kIdleDispatches, 1, kIdlePauseMs, kormil, reference);
    print("Kormil:", kormil);
    print("C reference:", reference);
    printRatio(kormil, reference);
    return dispatched + int(kormil.ms.size());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Another build of Kormil may be measured in place of this one.
    const QString kormilBuild =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KORMIL_EXECUTABLE);
    const QString probe = QStringLiteral(PROBE_EXECUTABLE);
    QTemporaryDir scratch;
    for (int port : {kPort, kReferencePort}) {
        const int busy = connectOnce(port);
        if (busy >= 0) {
            ::close(busy);
            std::printf("TCP port %d is in use here; the dispatch benchmark needs it.\n", port);
            return 0;
        }
    }

    for (int rows : {10, 10000}) {
        ProbeReport report(scratch.filePath(QStringLiteral("report%1").arg(rows)));
        Dispatchers dispatchers;
        if (!dispatchers.start(kormilBuild, rows, probe, report.path())) {
            std::printf("Kormil or the C reference did not start listening\n");
            return 1;
        }
        const qint64 idle = dispatchers.residentKilobytes();
        const QByteArray text = lastPattern(rows);
        const QByteArray title = QByteArray::number(rows) + " pairs";
        int dispatched = compare(title.constData(), text, report);

        const Latency shell = socatDispatcher(rows, probe, report, kDispatches / 10);
        std::printf("%s, socat + sh case (%d strings, a connection each):\n", title.constData(),
                    kDispatches / 10);
        print("socat + sh case:", shell);

        // Eight more rounds on fresh connections make 9,250 dispatches; then the comparison
        // again shows what a long log (two lines a dispatch) costs.
        for (int round = 0; round < 8; ++round) {
            Connection toKormil(kPort);
            toKormil.dispatch(text, report, kDispatches);
            dispatched += int(toKormil.latency.ms.size());
        }
        const QByteArray after = title + " after " + QByteArray::number(dispatched) + " dispatches";
        dispatched += compare(after.constData(), text, report);
        std::printf("%s: Kormil's resident memory idle %lld kB, after %d dispatches %lld kB\n",
                    title.constData(), idle, dispatched, dispatchers.residentKilobytes());
    }
    return 0;
}
