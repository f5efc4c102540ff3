#include "TestFiles.h"
#include "TestWindow.h"
#include "main_window/cShutdownSignals.h"
#include "main_window/list_selection.h"
#include "main_window/save_on_display_loss.h"
#include "main_window/shutdown_on_signal.h"
#include "pair_editor/frmAddEdit.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <thread>

namespace {

void testsOwnHandler(int) {}

using Disposition = void (*)(int);

Disposition dispositionOf(int signalNumber)
{
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

template <typename Make> bool throwsLogicError(Make make)
{
    try {
        make();
    } catch (const std::logic_error&) {
        return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Disposition)

// SIGTERM while the user is in the middle of something still saves the table and ends.
class tst_Shutdown : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void sigterm_withThePairEditorOpen_savesAndCloses();
    // After another shutdown: its question must still wait, and then end.
    void sigterm_whileAQuestionWaits_savesAndEndsTheQuestion();
    void abruptExit_savesATableNotSavedYet_data();
    void abruptExit_savesATableNotSavedYet();
    void signalsHandledBefore_areHandledSoAgainAfterwards_data();
    void signalsHandledBefore_areHandledSoAgainAfterwards();
    void signalWhileThePipeIsFull_leavesErrnoAlone();
    void secondInstance_failsLoudly();
    void displayGoneWarning_savesTheTable_data();
    void displayGoneWarning_savesTheTable();
};

// A shutdown ends every event loop, and each later one would end at once until the
// application's own loop has run again: run it, so that each case stands alone.
void tst_Shutdown::cleanup()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

void tst_Shutdown::sigterm_withThePairEditorOpen_savesAndCloses()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kormil.ini"));
    TestWindow test(path);
    test.window.Form_Load();
    test.addPair(QStringLiteral("open mail"), QStringLiteral("mail"), QStringLiteral("1"));
    test.window.show();
    test.window.cmdNew_Click();
    QVERIFY(test.window.pairEditor()->isVisible());

    cShutdownSignals shutdown;
    bool requested = false;
    closeOnShutdownSignals(shutdown, test.window, requested);
    ::raise(SIGTERM);
    QTRY_VERIFY(requested);
    QVERIFY(!test.window.isVisible());
    QVERIFY(!test.window.pairEditor()->isVisible());
    QCOMPARE(fileBytes(path), QByteArray("[pairs]\npattern0=open mail\ncommand0=mail\nfocus0=1\n"));
}

void tst_Shutdown::abruptExit_savesATableNotSavedYet_data()
{
    QTest::addColumn<bool>("closedBefore");
    QTest::addColumn<QByteArray>("file");
    const QByteArray before = "[pairs]\npattern0=old\ncommand0=true\nfocus0=1\n";
    const QByteArray withNewPair = before + "pattern1=new\ncommand1=true\nfocus1=1\n";
    QTest::newRow("not saved yet") << false << withNewPair;
    // The close saved the table; what changed after it is not the user's table.
    QTest::newRow("saved at close") << true << withNewPair;
}

void tst_Shutdown::abruptExit_savesATableNotSavedYet()
{
    QFETCH(bool, closedBefore);
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kormil.ini"));
    putFile(path, "[pairs]\npattern0=old\ncommand0=true\nfocus0=1\n");
    TestWindow test(path);
    test.window.Form_Load();
    test.addPair(QStringLiteral("new"), QStringLiteral("true"), QStringLiteral("1"));
    if (closedBefore) {
        test.window.close();
        test.addPair(QStringLiteral("after the close"), QStringLiteral("true"),
                     QStringLiteral("1"));
    }
    test.window.saveBeforeAbruptExit();
    QCOMPARE(fileBytes(path), file);
    QVERIFY(test.messages->shown.isEmpty());
}

void tst_Shutdown::sigterm_whileAQuestionWaits_savesAndEndsTheQuestion()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kormil.ini"));
    frmMainSeams seams = frmMainSeams::real(std::make_shared<cShell>()); // a real, modal question
    seams.settingsPath = path;
    frmMain window(seams);
    window.txtPort->setText(QStringLiteral("0"));
    window.Form_Load();
    window.lstPattern->addItem(QStringLiteral("keep me"));
    window.lstCommand->addItem(QStringLiteral("true"));
    window.lstFocus->addItem(QStringLiteral("1"));
    window.show();
    setSelectedRow(window.lstPattern, 0);

    cShutdownSignals shutdown;
    bool requested = false;
    closeOnShutdownSignals(shutdown, window, requested);
    QTimer::singleShot(300, [] { ::raise(SIGTERM); });
    window.cmdDel_Click(); // returns only once the question has ended

    QVERIFY(requested);
    QCOMPARE(window.lstPattern->count(), 1);
    QCOMPARE(fileBytes(path), QByteArray("[pairs]\npattern0=keep me\ncommand0=true\nfocus0=1\n"));
}

void tst_Shutdown::signalsHandledBefore_areHandledSoAgainAfterwards_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<Disposition>("before");
    const std::pair<const char*, int> handled[] = {
        {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
    for (const auto& [name, number] : handled) {
        // As under nohup: the signal must not end the program.
        QTest::addRow("%s ignored", name) << number << Disposition(SIG_IGN);
        QTest::addRow("%s handled elsewhere", name) << number << Disposition(testsOwnHandler);
    }
}

void tst_Shutdown::signalsHandledBefore_areHandledSoAgainAfterwards()
{
    QFETCH(int, signalNumber);
    QFETCH(Disposition, before);
    const Disposition original = std::signal(signalNumber, before);
    {
        cShutdownSignals shutdown;
        QSignalSpy requested(&shutdown, &cShutdownSignals::requested);
        if (before == SIG_IGN) {
            QVERIFY(dispositionOf(signalNumber) == before);
            ::raise(signalNumber);
            QCoreApplication::processEvents();
            QCOMPARE(requested.count(), 0);
        }
    }
    QVERIFY(dispositionOf(signalNumber) == before);
    std::signal(signalNumber, original);
}

void tst_Shutdown::signalWhileThePipeIsFull_leavesErrnoAlone()
{
    cShutdownSignals shutdown;
    QSignalSpy requested(&shutdown, &cShutdownSignals::requested);
    // Far more bytes than the pipe takes before a write fails, unread meanwhile.
    for (int i = 0; i < 10000; ++i) {
        errno = 0;
        ::raise(SIGTERM);
        QCOMPARE(errno, 0);
    }
    QTRY_COMPARE(requested.count(), 1);
}

void tst_Shutdown::secondInstance_failsLoudly()
{
    QTemporaryDir dir;
    TestWindow test(dir.filePath(QStringLiteral("kormil.ini")));
    {
        cShutdownSignals shutdown;
        const cSaveOnDisplayLoss saveOnDisplayLoss(test.window);
        QVERIFY(throwsLogicError([] { cShutdownSignals second; }));
        QVERIFY(throwsLogicError([&test] { cSaveOnDisplayLoss second(test.window); }));
    }
    // Once the first is gone, another may come.
    cShutdownSignals shutdown;
    const cSaveOnDisplayLoss saveOnDisplayLoss(test.window);
}

void tst_Shutdown::displayGoneWarning_savesTheTable_data()
{
    QTest::addColumn<QString>("warning");
    QTest::addColumn<bool>("fromMainThread");
    QTest::addColumn<bool>("saved");
    const QString x11 =
        QStringLiteral("The X11 connection broke (error 1). Did the X11 server die?");
    QTest::newRow("X11") << x11 << true << true;
    QTest::newRow("Wayland") << QStringLiteral(
                                    "The Wayland connection broke. Did the Wayland compositor die?")
                             << true << true;
    QTest::newRow("another warning")
        << QStringLiteral("QXcbConnection: XCB error: 3 (BadWindow)") << true << false;
    // Qt exits from the main thread; another thread's message is not that.
    QTest::newRow("from another thread") << x11 << false << false;
}

void tst_Shutdown::displayGoneWarning_savesTheTable()
{
    QFETCH(QString, warning);
    QFETCH(bool, fromMainThread);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kormil.ini"));
    const QByteArray before = "[pairs]\npattern0=old\ncommand0=true\nfocus0=1\n";
    putFile(path, before);
    TestWindow test(path);
    test.window.Form_Load();
    test.addPair(QStringLiteral("new"), QStringLiteral("true"), QStringLiteral("1"));
    const cSaveOnDisplayLoss saveOnDisplayLoss(test.window);

    // The warning still reaches the handler that was there before.
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    const auto warn = [&warning] { qWarning("%s", qPrintable(warning)); };
    if (fromMainThread)
        warn();
    else
        std::thread(warn).join();
    QCOMPARE(fileBytes(path), saved ? before + "pattern1=new\ncommand1=true\nfocus1=1\n" : before);
}

QTEST_MAIN(tst_Shutdown)
#include "tst_shutdown.moc"
