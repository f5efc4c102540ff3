#pragma once

#include "TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <unistd.h>

// The built program, started headless in a folder of its own with a settings file beside it,
// listening on its default port 2011; its log is read from its standard error.
class RunningKormil {
public:
    static constexpr quint16 kPort = 2011;

    static bool portIsFree()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::Any, kPort);
    }

    QString path(const QString& name) const { return dir_.filePath(name); }
    // The program's file name in its folder, "kormil" unless a test names it otherwise.
    void setProgramName(const QString& name) { programName_ = name; }
    QString settingsPath() const { return path(programName_ + QStringLiteral(".ini")); }

    enum class Wait { ForListening, ForStart };

    // What the program may not do with its folder. A root test runs it as user "nobody", for
    // whom permissions hold.
    enum class Restriction { None, UnreadableSettings, ReadOnlyFolder };
    void restrict(Restriction restriction) { restriction_ = restriction; }

    // Starts the program with SIGHUP ignored, as nohup does.
    void ignoreHangUp() { ignoreHangUp_ = true; }
    // Its log goes into a pipe that the test reads, as a pager would, instead of into a file.
    void logThroughPipe() { pipeLog_ = true; }
    // The test stops reading the pipe and closes it, as a pager that quits does.
    void closeLogReader()
    {
        log();
        ::close(logPipe_[0]);
        logPipe_[0] = -1;
    }

    // Shows the window on this X display instead of running headless.
    void useDisplay(const QString& display) { display_ = display; }

    bool start(const QByteArray& settings, Wait wait = Wait::ForListening)
    {
        const QString program = path(programName_);
        if (!QFile::copy(QStringLiteral(KORMIL_EXECUTABLE), program))
            return false;
        QFile ini(settingsPath());
        if (!ini.open(QIODevice::WriteOnly) || ini.write(settings) != settings.size())
            return false;
        ini.close();
        if (!applyRestriction())
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (display_.isEmpty()) {
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            environment.insert(QStringLiteral("DISPLAY"), display_);
        }
        process.setProcessEnvironment(environment);
        if (pipeLog_) {
            if (::pipe2(logPipe_, O_CLOEXEC) != 0)
                return false;
            ::fcntl(logPipe_[0], F_SETFL, O_NONBLOCK);
        } else {
            // A file, not a pipe: the log is read at any time, however much the program writes.
            process.setStandardErrorFile(path(QStringLiteral("stderr.log")));
        }
        process.setChildProcessModifier(
            [ignoreHangUp = ignoreHangUp_, user = user_, logWriteEnd = logPipe_[1]] {
                if (ignoreHangUp)
                    ::signal(SIGHUP, SIG_IGN);
                if (logWriteEnd >= 0)
                    ::dup2(logWriteEnd, STDERR_FILENO);
                if (user && (::setgroups(0, nullptr) != 0 || ::setgid(user->second) != 0 ||
                             ::setuid(user->first) != 0))
                    ::_exit(126);
            });
        process.start(program, {});
        if (pipeLog_)
            ::close(logPipe_[1]);
        if (!process.waitForStarted())
            return false;
        if (wait == Wait::ForStart)
            return QTest::qWaitFor([&] { return log().contains(" Kormil started\n"); }, 10000);
        return waitForListening(1);
    }

    // Everything logged so far.
    const QByteArray& log()
    {
        if (!pipeLog_) {
            log_ = fileBytes(path(QStringLiteral("stderr.log")));
            return log_;
        }
        char bytes[4096];
        for (ssize_t got; logPipe_[0] >= 0 && (got = ::read(logPipe_[0], bytes, sizeof bytes)) > 0;)
            log_.append(bytes, got);
        return log_;
    }

    // Waits until the program has started listening `times` times in all.
    bool waitForListening(int times, int timeout = 10000)
    {
        return QTest::qWaitFor(
            [&] { return log().count(" Kormil started listening on ") >= times; }, timeout);
    }
    int listenings() { return static_cast<int>(log().count(" Kormil started listening on ")); }

    // Connects, sends the text, closes, and waits for the watchdog to listen again.
    bool sendAlone(const QByteArray& text)
    {
        const int before = listenings();
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, kPort);
        if (!peer.waitForConnected(5000))
            return false;
        peer.write(text);
        if (!peer.waitForBytesWritten(5000))
            return false;
        peer.disconnectFromHost();
        return waitForListening(before + 1);
    }

    // The program sleeps in an event loop: its own, or a message box's during start-up.
    bool waitsForEvents() const
    {
        return fileBytes(QStringLiteral("/proc/%1/wchan").arg(process.processId()))
            .contains("poll");
    }

    qint64 residentKilobytes() const
    {
        const QByteArray status =
            fileBytes(QStringLiteral("/proc/%1/status").arg(process.processId()));
        const qsizetype at = status.indexOf("VmRSS:");
        return at < 0 ? -1
                      : status.mid(at + 6, status.indexOf('\n', at) - at - 6)
                            .trimmed()
                            .split(' ')
                            .first()
                            .toLongLong();
    }

    bool stop()
    {
        process.terminate();
        return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    QProcess process;

    // Gives the folder and the settings file back to the test.
    void liftRestriction()
    {
        const auto readWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QFile::setPermissions(dir_.path(), readWrite | QFileDevice::ExeOwner);
        QFile::setPermissions(settingsPath(), readWrite);
    }

    ~RunningKormil()
    {
        liftRestriction();
        if (logPipe_[0] >= 0)
            ::close(logPipe_[0]);
    }

private:
    bool applyRestriction()
    {
        if (restriction_ == Restriction::None)
            return true;
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody)
                return false;
            user_ = std::pair{nobody->pw_uid, nobody->pw_gid};
            // The user's own settings file, in a folder the user may not write.
            if (restriction_ == Restriction::ReadOnlyFolder &&
                ::chown(QFile::encodeName(settingsPath()).constData(), nobody->pw_uid,
                        nobody->pw_gid) != 0)
                return false;
        }
        // Made before the folder turns read-only; the log goes there.
        QFile log(path(QStringLiteral("stderr.log")));
        if (!log.open(QIODevice::WriteOnly))
            return false;
        log.close();
        const auto readAndEnter = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                  QFileDevice::ReadOther | QFileDevice::ExeOther;
        if (restriction_ == Restriction::UnreadableSettings)
            return QFile::setPermissions(settingsPath(), QFileDevice::WriteOwner) &&
                   QFile::setPermissions(dir_.path(), readAndEnter | QFileDevice::WriteOwner);
        return QFile::setPermissions(dir_.path(), readAndEnter);
    }

    QTemporaryDir dir_;
    QByteArray log_;
    QString display_;
    QString programName_ = QStringLiteral("kormil");
    Restriction restriction_ = Restriction::None;
    bool ignoreHangUp_ = false;
    std::optional<std::pair<uid_t, gid_t>> user_; // whom the program runs as, when not us
    bool pipeLog_ = false;
    int logPipe_[2] = {-1, -1};
};
