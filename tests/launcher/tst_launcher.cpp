#include "TestFiles.h"
#include "launcher/cShell.h"
#include "launcher/cWindowStyling.h"
#include "launcher/command_line.h"
#include "runtime/cRaisedError.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// What each open descriptor of a process points at ("/dev/null", "socket:[4711]" ...).
QMap<int, QByteArray> descriptorTargets(const QString& process)
{
    QMap<int, QByteArray> targets;
    const QString fdDir = QStringLiteral("/proc/%1/fd/").arg(process);
    for (const QString& fd :
         QDir(fdDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char target[4096];
        const ssize_t size =
            ::readlink((fdDir + fd).toLocal8Bit().constData(), target, sizeof target);
        if (size >= 0) // a descriptor closed meanwhile is no longer there
            targets.insert(fd.toInt(), QByteArray(target, static_cast<int>(size)));
    }
    return targets;
}

// Records what it was asked to style, instead of talking to a window system.
struct RecordingStyler : cWindowStyling {
    explicit RecordingStyler(QList<QPair<pid_t, int>>& applied) : applied(applied) {}
    void apply(pid_t program, std::int16_t windowStyle) override
    {
        applied.append({program, windowStyle});
    }
    QList<QPair<pid_t, int>>& applied;
};

// Done with each program at once, for the reason it was given.
struct ConcludingStyler : cWindowStyling {
    explicit ConcludingStyler(QString whyNot) : whyNot(std::move(whyNot)) {}
    void apply(pid_t program, std::int16_t windowStyle) override
    {
        reportDone(program, windowStyle, whyNot);
    }
    QString whyNot;
};

} // namespace

class tst_Launcher : public QObject {
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void shell_refusesWhatCannotStart_data();
    void shell_refusesWhatCannotStart();
    void started_isHandedToTheStylerWithItsStyle_data();
    void started_isHandedToTheStylerWithItsStyle();
    void styleNotTaken_isReportedWithItsCommand_data();
    void styleNotTaken_isReportedWithItsCommand();
    void started_hasItsOwnSessionAndNoneOfOurDescriptors();
    void program_isLookedUpInPath();
    void started_getsOurEnvironmentLessStartupTokens_data();
    void started_getsOurEnvironmentLessStartupTokens();
    void everyStartedProgram_isReaped();
    void endedProgram_isReportedWithHowItEnded_data();
    void endedProgram_isReportedWithHowItEnded();
    void launcherGone_leavesNoDescriptorBehind();
    void runningPrograms_holdNoDescriptorsHere();

private:
    QTemporaryDir dir_;
    QList<QPair<pid_t, int>> styled_;
    // The real launcher, without a display: its styler only records.
    cShell shell_{std::make_unique<RecordingStyler>(styled_)};
};

void tst_Launcher::split_data()
{
    using Words = std::vector<std::string>;
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Words>("words");

    QTest::newRow("blanks separate") << " a  b\tc " << true << Words{"a", "b", "c"};
    QTest::newRow("single quotes") << "'a b' 'c\"d\\e'" << true << Words{"a b", "c\"d\\e"};
    QTest::newRow("double quotes") << R"("a \"b\" \$x \q \\")" << true << Words{R"(a "b" $x \q \)"};
    QTest::newRow("backslash outside") << R"(a\ b \'c)" << true << Words{"a b", "'c"};
    QTest::newRow("joined pieces") << R"(x'y'"z"w)" << true << Words{"xyzw"};
    QTest::newRow("empty quotes are a word") << "a '' \"\"" << true << Words{"a", "", ""};
    QTest::newRow("no expansion") << "echo $HOME ~ *.txt" << true
                                  << Words{"echo", "$HOME", "~", "*.txt"};
    QTest::newRow("no pipes or redirections") << "a|b > c" << true << Words{"a|b", ">", "c"};
    QTest::newRow("empty line") << "" << true << Words{};
    QTest::newRow("blanks only") << "  \t " << true << Words{};
    QTest::newRow("open single quote") << "a 'b" << false << Words{};
    QTest::newRow("open double quote") << "a \"b" << false << Words{};
    QTest::newRow("lone backslash at the end") << "a \\" << false << Words{};
}

void tst_Launcher::split()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    QFETCH(std::vector<std::string>, words);
    const auto result = cmdline::split(line.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QVERIFY(*result == words);
}

void tst_Launcher::shell_refusesWhatCannotStart_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("errorNumber");

    QTest::newRow("no such program") << "kormil-no-such-program --x" << 1 << 53;
    QTest::newRow("no such path") << "/nonexistent/prog" << 1 << 53;
    QTest::newRow("a directory") << "/tmp" << 1 << 70;
    QTest::newRow("not executable") << "NOT_EXECUTABLE" << 1 << 70;
    QTest::newRow("unbalanced quotes") << "true 'x" << 1 << 5;
    QTest::newRow("empty command") << "   " << 1 << 5;
    QTest::newRow("style 5") << "true" << 5 << 5;
    QTest::newRow("style 7") << "true" << 7 << 5;
    QTest::newRow("style -1") << "true" << -1 << 5;
}

void tst_Launcher::shell_refusesWhatCannotStart()
{
    QFETCH(QString, commandLine);
    QFETCH(int, style);
    QFETCH(int, errorNumber);

    if (commandLine == QLatin1String("NOT_EXECUTABLE")) {
        commandLine = dir_.filePath(QStringLiteral("plain.txt"));
        QFile file(commandLine);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
    }
    styled_.clear();
    try {
        shell_.Shell(commandLine, static_cast<std::int16_t>(style));
        QFAIL("the launcher started what it should have refused");
    } catch (const cRaisedError& error) {
        QCOMPARE(error.number, errorNumber);
        QVERIFY(!error.text.isEmpty());
    }
    QVERIFY(styled_.isEmpty());
}

void tst_Launcher::started_isHandedToTheStylerWithItsStyle_data()
{
    QTest::addColumn<int>("style");
    for (int style : {0, 1, 2, 3, 4, 6})
        QTest::addRow("style %d", style) << style;
}

void tst_Launcher::started_isHandedToTheStylerWithItsStyle()
{
    QFETCH(int, style);
    styled_.clear();
    const auto pid = static_cast<pid_t>(shell_.Shell(QStringLiteral("true"), std::int16_t(style)));
    QCOMPARE(styled_, (QList<QPair<pid_t, int>>{{pid, style}}));
}

void tst_Launcher::styleNotTaken_isReportedWithItsCommand_data()
{
    QTest::addColumn<QString>("whyNot");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("taken") << QString() << QStringList();
    QTest::newRow("ignored") << QStringLiteral("the desktop ignored it")
                             << QStringList{QStringLiteral("Window style 3 was not applied: the "
                                                           "desktop ignored it (command: true 1)")};
}

void tst_Launcher::styleNotTaken_isReportedWithItsCommand()
{
    QFETCH(QString, whyNot);
    QFETCH(QStringList, lines);
    cShell shell(std::make_unique<ConcludingStyler>(whyNot));
    QStringList reported;
    shell.setStyleReport([&](const QString& line) { reported << line; });
    bool ended = false;
    shell.setEndReport([&](const QString&, int) { ended = true; });
    shell.Shell(QStringLiteral("true 1"), 3);
    QCOMPARE(reported, lines);
    QTRY_VERIFY(ended); // reaped before its launcher goes
}

void tst_Launcher::started_hasItsOwnSessionAndNoneOfOurDescriptors()
{
    QTcpServer listening; // a socket of ours that must not reach the program
    QVERIFY(listening.listen(QHostAddress::LocalHost, 0));
    // A copy without close-on-exec, as a careless library would leave one.
    const int inheritable = ::dup(static_cast<int>(listening.socketDescriptor()));
    QVERIFY(inheritable >= 0);
    const auto pid = static_cast<pid_t>(shell_.Shell(QStringLiteral("sleep 30"), 1));
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    QTRY_COMPARE_WITH_TIMEOUT(QFile::symLinkTarget(proc + QStringLiteral("/exe")).section(u'/', -1),
                              QStringLiteral("sleep"), 10000);

    // The program's own files (its locale, say) may come and go; none of ours may be there.
    const QMap<int, QByteArray> theirs = descriptorTargets(QString::number(pid));
    const QList<QByteArray> ours = descriptorTargets(QStringLiteral("self")).values();
    for (int standard : {0, 1, 2})
        QCOMPARE(theirs.value(standard), QByteArray("/dev/null"));
    for (auto fd = theirs.cbegin(); fd != theirs.cend(); ++fd) {
        QVERIFY2(fd.key() <= 2 || !ours.contains(fd.value()),
                 qPrintable(QStringLiteral("descriptor %1 -> %2 is the test's own")
                                .arg(fd.key())
                                .arg(QString::fromLocal8Bit(fd.value()))));
    }
    const QByteArray stat = fileBytes(proc + QStringLiteral("/stat"));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    QCOMPARE(fields.at(3).toInt(), int(pid)); // the session id: a session of its own
    QCOMPARE(::kill(pid, SIGKILL), 0);
    ::close(inheritable);
}

void tst_Launcher::program_isLookedUpInPath()
{
    const QString bin = dir_.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    const QString tool = bin + QStringLiteral("/kormil-test-tool");
    QFile file(tool);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho \"$1\" > \"$2\"\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));

    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", "/nonexistent:" + bin.toLocal8Bit() + ":" + oldPath);
    const QString out = dir_.filePath(QStringLiteral("tool.out"));
    shell_.Shell(QStringLiteral("kormil-test-tool 'two words' %1").arg(out), 4);
    qputenv("PATH", oldPath);
    QTRY_COMPARE_WITH_TIMEOUT(fileBytes(out), QByteArray("two words\n"), 10000);
}

void tst_Launcher::started_getsOurEnvironmentLessStartupTokens_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("passedOn");

    QTest::newRow("activation token") << QByteArray("XDG_ACTIVATION_TOKEN") << false;
    QTest::newRow("startup id") << QByteArray("DESKTOP_STARTUP_ID") << false;
    QTest::newRow("a longer name") << QByteArray("DESKTOP_STARTUP_ID_X") << true;
    QTest::newRow("a shorter name") << QByteArray("XDG_ACTIVATION") << true;
    QTest::newRow("any other") << QByteArray("KORMIL_TEST_VARIABLE") << true;
}

void tst_Launcher::started_getsOurEnvironmentLessStartupTokens()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, passedOn);
    const QByteArray variable = name + "=kormil-test-value";
    qputenv(name.constData(), "kormil-test-value");
    const auto pid = static_cast<pid_t>(shell_.Shell(QStringLiteral("sleep 30"), 1));
    qunsetenv(name.constData());
    // The launcher returns while the exec is still setting up the new environment.
    const QString environ = QStringLiteral("/proc/%1/environ").arg(pid);
    const QByteArray path = "PATH=" + qgetenv("PATH");
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(environ).split('\0').contains(path), 10000);
    QCOMPARE(fileBytes(environ).split('\0').contains(variable), passedOn);
    QCOMPARE(::kill(pid, SIGKILL), 0);
}

namespace {

// Processes whose parent is this test, zombies included.
int childrenOfThisProcess()
{
    int children = 0;
    const QByteArray self = QByteArray::number(::getpid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        const QByteArray stat = fileBytes(QStringLiteral("/proc/%1/stat").arg(entry));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        children += fields.size() > 1 && fields.at(1) == self;
    }
    return children;
}

} // namespace

void tst_Launcher::everyStartedProgram_isReaped()
{
    const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = descriptors();
    for (int i = 0; i < 1000; ++i)
        shell_.Shell(QStringLiteral("true"), 0);
    for (int i = 0; i < 100; ++i) {
        try {
            shell_.Shell(QStringLiteral("kormil-no-such-program"), 0);
        } catch (const cRaisedError&) {
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(childrenOfThisProcess(), 0, 90000);
    // Fewer is fine: children of earlier tests may have been reaped, closing their pidfds.
    QTRY_VERIFY(descriptors() <= before);
}

void tst_Launcher::endedProgram_isReportedWithHowItEnded_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("status"); // -1: ended by the signal
    QTest::addColumn<int>("signal");
    QTest::newRow("success") << "true" << 0 << 0;
    QTest::newRow("status 3") << "sh -c 'exit 3'" << 3 << 0;
    QTest::newRow("signal") << "sh -c 'kill -TERM $$'" << -1 << int(SIGTERM);
}

void tst_Launcher::endedProgram_isReportedWithHowItEnded()
{
    QFETCH(QString, commandLine);
    QFETCH(int, status);
    QFETCH(int, signal);

    QList<std::pair<QString, int>> ended;
    shell_.setEndReport([&](const QString& line, int waitStatus) {
        ended.append({line, waitStatus});
    });
    shell_.Shell(commandLine, 0);
    QTRY_COMPARE(ended.size(), 1);
    shell_.setEndReport({});
    QCOMPARE(ended[0].first, commandLine);
    const int waitStatus = ended[0].second;
    if (status >= 0)
        QVERIFY(WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == status);
    else
        QVERIFY(WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == signal);
}

void tst_Launcher::launcherGone_leavesNoDescriptorBehind()
{
    const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = descriptors();
    pid_t pid = 0;
    {
        cShell shell;
        pid = static_cast<pid_t>(shell.Shell(QStringLiteral("sleep 30"), 1));
    }
    QCOMPARE(descriptors(), before);
    QCOMPARE(::kill(pid, SIGKILL), 0);
    QCOMPARE(::waitpid(pid, nullptr, 0), pid);
}

void tst_Launcher::runningPrograms_holdNoDescriptorsHere()
{
    const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = descriptors();
    QList<pid_t> running;
    for (int i = 0; i < 50; ++i)
        running << static_cast<pid_t>(shell_.Shell(QStringLiteral("sleep 60"), 0));
    QCOMPARE(descriptors(), before);
    for (pid_t pid : running)
        ::kill(pid, SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(childrenOfThisProcess(), 0, 10000);
}

QTEST_MAIN(tst_Launcher)
#include "tst_launcher.moc"
