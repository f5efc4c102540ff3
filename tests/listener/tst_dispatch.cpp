#include "LoopbackPeer.h"
#include "TestWindow.h"
#include "listener/cWinsock.h"
#include "main_window/list_selection.h"

#include <QProcess>
#include <QPushButton>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A window with pairs, listening, and a peer connected to it.
struct Serving : TestWindow {
    Serving() : TestWindow(QString{})
    {
        addPair(QStringLiteral("open mail"), QStringLiteral("thunderbird --compose"),
                QStringLiteral("3"));
        addPair(QStringLiteral("play music"), QStringLiteral("rhythmbox"), QStringLiteral("1"));
        addPair(QStringLiteral("open mail"), QStringLiteral("never run"), QStringLiteral("1"));
        addPair(QStringLiteral("odd style"), QStringLiteral("xterm"), QStringLiteral("five"));
        window.cmdListen_Click();
    }

    bool connectPeer()
    {
        if (!peer.connectTo(static_cast<quint16>(window.wckTCP->LocalPort())))
            return false;
        return servesPeer();
    }

    // Sends the bytes and returns the log lines they caused.
    QStringList dispatch(const QByteArray& bytes)
    {
        const int before = window.lstLog->count();
        peer.send(bytes);
        if (!QTest::qWaitFor([&] { return window.lstLog->count() >= before + 2; }, 5000))
            return {};
        QStringList lines = rows(window.lstLog).mid(before);
        for (QString& line : lines)
            line = line.section(u' ', 1); // without the time stamp
        return lines;
    }

    LoopbackPeer peer;
};

// Standard error redirected into a pipe for as long as this lives.
class CapturedStandardError {
public:
    CapturedStandardError() : saved_(::dup(STDERR_FILENO))
    {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0)
            ::dup2(pipe_[1], STDERR_FILENO);
    }
    ~CapturedStandardError()
    {
        ::dup2(saved_, STDERR_FILENO);
        for (int fd : {saved_, pipe_[0], pipe_[1]})
            ::close(fd);
    }

    // Everything written so far.
    QByteArray text()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipe_[0], buffer, sizeof buffer)) > 0;)
            text_.append(buffer, n);
        return text_;
    }

private:
    int saved_;
    int pipe_[2] = {-1, -1};
    QByteArray text_;
};

QStringList withoutStamps(QStringList lines)
{
    for (QString& line : lines)
        line = line.section(u' ', 1);
    return lines;
}

} // namespace

class tst_Dispatch : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }
    void voiceString_startsTheFirstEqualPattern_data();
    void voiceString_startsTheFirstEqualPattern();
    void match_movesTheSelection();
    void emptyTable_matchesNothing();
    void invalidText_isReadWithReplacementCharacters();
    void launcherFailure_isLoggedAndListeningGoesOn();
    void longVoiceString_isCutInTheLogButMatchedWhole();
    void tableEdits_changeWhatMatches();
    void run_startsTheSelectedPair();
    void commandEnd_isLoggedOnlyWhenItFailed_data();
    void commandEnd_isLoggedOnlyWhenItFailed();
    void sender_waitsWhileAnotherRecogniserIsConnected();
    void sender_reportsSuccessOnlyForWhatWasRead();
    void command_startsBeforeTheScreenChanges();
    void burst_reachesTheScreenWholeAndInOrder();
};

void tst_Dispatch::voiceString_startsTheFirstEqualPattern_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("command"); // empty: nothing started
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("hint"); // the near-miss line after a failed match

    const QString mail = QStringLiteral("Closest pattern: \"open mail\" (differs only in ");
    QTest::newRow("equal") << QByteArray("open mail") << "thunderbird --compose" << 3 << "";
    QTest::newRow("second pair") << QByteArray("play music") << "rhythmbox" << 1 << "";
    QTest::newRow("capital letter")
        << QByteArray("Open mail") << "" << 0 << mail + "upper and lower case)";
    QTest::newRow("trailing blank")
        << QByteArray("open mail ") << "" << 0 << mail + "blanks or line ends at its start or end)";
    QTest::newRow("line end") << QByteArray("open mail\n") << "" << 0
                              << mail + "a trailing line end)";
    QTest::newRow("capitals and line ends")
        << QByteArray("PLAY MUSIC\r\n") << "" << 0
        << "Closest pattern: \"play music\" (differs only in upper and lower case and a "
           "trailing line end)";
    QTest::newRow("blank before") << QByteArray(" odd style") << "" << 0
                                  << "Closest pattern: \"odd style\" (differs only in blanks or "
                                     "line ends at its start or end)";
    QTest::newRow("part of a pattern") << QByteArray("open") << "" << 0 << "";
    QTest::newRow("only blanks") << QByteArray(" \n") << "" << 0 << "";
}

void tst_Dispatch::voiceString_startsTheFirstEqualPattern()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, command);
    QFETCH(int, style);
    QFETCH(QString, hint);

    Serving test;
    QVERIFY(test.connectPeer());
    const QStringList lines = test.dispatch(sent);
    const QString received = QStringLiteral("Received voice string: ") + QString::fromUtf8(sent);
    if (command.isEmpty()) {
        QStringList expected{received, "No matching voice string found!"};
        if (!hint.isEmpty())
            expected << hint;
        QCOMPARE(lines, expected);
        QVERIFY(test.shell->started.isEmpty());
    } else {
        QCOMPARE(lines, (QStringList{received, "Executing: " + command}));
        QCOMPARE(test.shell->started,
                 (QList<FakeShell::Started>{{command, static_cast<std::int16_t>(style)}}));
    }
}

void tst_Dispatch::match_movesTheSelection()
{
    Serving test;
    setSelectedRow(test.window.lstCommand, 0);
    QVERIFY(test.connectPeer());
    test.dispatch("play music");
    QCOMPARE(selectedRow(test.window.lstPattern), 1);
    QCOMPARE(selectedRow(test.window.lstCommand), 1);
    QCOMPARE(selectedRow(test.window.lstFocus), 1);
    // The peer may keep the connection and send again.
    test.dispatch("open mail");
    QCOMPARE(selectedRow(test.window.lstFocus), 0);
    QCOMPARE(test.shell->started.size(), 2);
}

void tst_Dispatch::emptyTable_matchesNothing()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    LoopbackPeer peer;
    QVERIFY(peer.connectTo(static_cast<quint16>(test.window.wckTCP->LocalPort())));
    peer.send("anything");
    QTRY_VERIFY(TestWindow::rows(test.window.lstLog)
                    .last()
                    .endsWith(QStringLiteral(" No matching voice string found!")));
}

void tst_Dispatch::invalidText_isReadWithReplacementCharacters()
{
    Serving test;
    QVERIFY(test.connectPeer());
    const QStringList lines = test.dispatch(QByteArray("open\xff\0mail", 10));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Received voice string: open") + QChar(0xFFFD) + QChar(0) +
                           QStringLiteral("mail"));
    QCOMPARE(lines[1], QStringLiteral("No matching voice string found!"));
}

void tst_Dispatch::launcherFailure_isLoggedAndListeningGoesOn()
{
    Serving test;
    QVERIFY(test.connectPeer());
    test.shell->failure = cRaisedError(53, QStringLiteral("File not found"));
    QCOMPARE(test.dispatch("play music"),
             (QStringList{"Received voice string: play music",
                          "Could not execute: rhythmbox (File not found)"}));
    test.shell->failure.reset();
    const QStringList oddStyle = test.dispatch("odd style");
    QCOMPARE(oddStyle.size(), 2);
    QVERIFY(oddStyle[1].startsWith(QStringLiteral("Could not execute: xterm (")));
    QVERIFY(test.shell->started.isEmpty());
    QCOMPARE(test.dispatch("play music").last(), QStringLiteral("Executing: rhythmbox"));
}

void tst_Dispatch::longVoiceString_isCutInTheLogButMatchedWhole()
{
    Serving test;
    const QString pattern = QString(1500, u'a');
    test.addPair(pattern, QStringLiteral("long one"), QStringLiteral("1"));
    QVERIFY(test.connectPeer());
    const QStringList lines = test.dispatch(pattern.toLatin1());
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Received voice string: ") + QString(1000, u'a') +
                           QStringLiteral("... (cut here: 1500 characters in all)"));
    QCOMPARE(lines[1], QStringLiteral("Executing: long one"));
}

void tst_Dispatch::tableEdits_changeWhatMatches()
{
    Serving test;
    QVERIFY(test.connectPeer());
    QCOMPARE(test.dispatch("open mail").last(), QStringLiteral("Executing: thunderbird --compose"));
    test.window.lstPattern->item(0)->setText(QStringLiteral("write mail"));
    QCOMPARE(test.dispatch("open mail").last(), QStringLiteral("Executing: never run"));
    QCOMPARE(test.dispatch("write mail").last(),
             QStringLiteral("Executing: thunderbird --compose"));
    for (QListWidget* list : {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
        delete list->takeItem(0);
    QCOMPARE(test.dispatch("write mail").last(), QStringLiteral("No matching voice string found!"));
    QCOMPARE(test.dispatch("open mail").last(), QStringLiteral("Executing: never run"));
    test.addPair(QStringLiteral("new words"), QStringLiteral("added"), QStringLiteral("1"));
    QCOMPARE(test.dispatch("new words").last(), QStringLiteral("Executing: added"));
    for (QListWidget* list : {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
        list->clear();
    QCOMPARE(test.dispatch("new words").last(), QStringLiteral("No matching voice string found!"));
}

void tst_Dispatch::run_startsTheSelectedPair()
{
    Serving test;
    const int lines = test.window.lstLog->count();
    QTest::mouseClick(test.window.cmdRun, Qt::LeftButton);
    QVERIFY(test.shell->started.isEmpty());
    QCOMPARE(test.window.lstLog->count(), lines);

    setSelectedRow(test.window.lstPattern, 0);
    QTest::mouseClick(test.window.cmdRun, Qt::LeftButton);
    QCOMPARE(test.shell->started,
             (QList<FakeShell::Started>{{QStringLiteral("thunderbird --compose"), 3}}));
    QCOMPARE(TestWindow::rows(test.window.lstLog).mid(lines),
             QStringList{"31/01/2005@09:05:07 Executing: thunderbird --compose"});
}

void tst_Dispatch::commandEnd_isLoggedOnlyWhenItFailed_data()
{
    QTest::addColumn<int>("waitStatus");
    QTest::addColumn<QString>("line"); // empty: nothing logged
    QTest::newRow("success") << 0 << "";
    QTest::newRow("status 1") << (1 << 8) << "Command ended with status 1: ls /nonexistent";
    QTest::newRow("status 255") << (255 << 8) << "Command ended with status 255: ls /nonexistent";
    QTest::newRow("killed") << 9 << "Command ended by signal 9 (SIGKILL): ls /nonexistent";
}

void tst_Dispatch::commandEnd_isLoggedOnlyWhenItFailed()
{
    QFETCH(int, waitStatus);
    QFETCH(QString, line);

    TestWindow test(QString{});
    test.window.Log(QStringLiteral("before"));
    test.shell->end(QStringLiteral("ls /nonexistent"), waitStatus);
    const QString last = TestWindow::rows(test.window.lstLog).last();
    QCOMPARE(last.section(u' ', 1), line.isEmpty() ? QStringLiteral("before") : line);
}

namespace {

QProcess* startSender(QObject* parent, const Serving& test, const QString& text)
{
    auto* sender = new QProcess(parent);
    sender->start(
        QStringLiteral(KORMIL_SEND_EXECUTABLE),
        {"--host", "127.0.0.1", "--port", QString::number(test.window.wckTCP->LocalPort()), text});
    return sender;
}

} // namespace

void tst_Dispatch::sender_waitsWhileAnotherRecogniserIsConnected()
{
    Serving test;
    QVERIFY(test.connectPeer());
    QProcess* sender = startSender(this, test, QStringLiteral("play music"));
    QVERIFY(sender->waitForStarted());
    // No sign shows when the sender was first refused; give it time to be.
    QTest::qWait(300);
    test.peer.socket.disconnectFromHost();
    QTRY_COMPARE(test.window.wckTCP->State(), cWinsock::sckClosing);
    test.window.tmrWinsock_Timer();
    QTRY_COMPARE(sender->state(), QProcess::NotRunning);
    QCOMPARE(sender->readAllStandardError(), QByteArray());
    QCOMPARE(sender->exitCode(), 0);
    QCOMPARE(test.shell->started.size(), 1);
}

void tst_Dispatch::sender_reportsSuccessOnlyForWhatWasRead()
{
    Serving test;
    int reported = 0;
    for (int round = 0; round < 4; ++round) {
        QProcess* first = startSender(this, test, QStringLiteral("play music"));
        QProcess* second = startSender(this, test, QStringLiteral("play music"));
        QTRY_VERIFY_WITH_TIMEOUT(first->state() == QProcess::NotRunning &&
                                     second->state() == QProcess::NotRunning,
                                 15000);
        for (QProcess* sender : {first, second})
            reported += sender->exitCode() == 0 ? 1 : 0;
        QCOMPARE(test.shell->started.size(), reported);
    }
    QVERIFY(reported >= 4);
}

void tst_Dispatch::command_startsBeforeTheScreenChanges()
{
    Serving test;
    CapturedStandardError standardError;
    QVERIFY(test.connectPeer());
    const int lines = test.window.lstLog->count();
    QByteArray echoedAtStart;
    int shownAtStart = -1;
    int selectedAtStart = -2;
    test.shell->whenStarting = [&] {
        echoedAtStart = standardError.text();
        shownAtStart = test.window.lstLog->count();
        selectedAtStart = selectedRow(test.window.lstPattern);
    };
    QCOMPARE(test.dispatch("play music"),
             (QStringList{"Received voice string: play music", "Executing: rhythmbox"}));
    QVERIFY2(echoedAtStart.endsWith(" Received voice string: play music\n"), echoedAtStart);
    QCOMPARE(shownAtStart, lines);
    QCOMPARE(selectedAtStart, -1);
    QCOMPARE(selectedRow(test.window.lstFocus), 1);
    QVERIFY(standardError.text().endsWith(" Executing: rhythmbox\n"));
}

void tst_Dispatch::burst_reachesTheScreenWholeAndInOrder()
{
    Serving test;
    CapturedStandardError standardError;
    QVERIFY(test.connectPeer());
    const int before = test.window.lstLog->count();
    const std::pair<const char*, const char*> burst[] = {
        {"open mail", "Executing: thunderbird --compose"},
        {"play music", "Executing: rhythmbox"},
        {"nothing", "No matching voice string found!"},
        {"open mail", "Executing: thunderbird --compose"},
        {"play music", "Executing: rhythmbox"},
    };
    QStringList expected;
    for (const auto& [text, outcome] : burst) {
        const qsizetype echoed = standardError.text().count('\n');
        test.peer.send(text);
        // Dispatched, which need not mean shown yet.
        QTRY_COMPARE(standardError.text().count('\n'), echoed + 2);
        expected << QStringLiteral("Received voice string: ") + QLatin1String(text)
                 << QLatin1String(outcome);
    }
    QTRY_COMPARE(withoutStamps(TestWindow::rows(test.window.lstLog).mid(before)), expected);
    QCOMPARE(selectedRow(test.window.lstPattern), 1);
    QCOMPARE(selectedRow(test.window.lstFocus), 1);
    QTRY_COMPARE(test.window.lstLog->currentRow(), test.window.lstLog->count() - 1);
}

QTEST_MAIN(tst_Dispatch)
#include "tst_dispatch.moc"
