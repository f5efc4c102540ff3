#include "TestFiles.h"
#include "TestWindow.h"
#include "main_window/cShutdownSignals.h"
#include "main_window/list_selection.h"
#include "main_window/shutdown_on_signal.h"
#include "pair_editor/frmAddEdit.h"

#include <QTemporaryDir>
#include <QTimer>
#include <csignal>

// SIGTERM while the user is in the middle of something still saves the table and ends.
class tst_Shutdown : public QObject {
    Q_OBJECT

private slots:
    // First: once a shutdown has ended the event loops, no later loop would run.
    void sigterm_whileAQuestionWaits_savesAndEndsTheQuestion();
    void sigterm_withThePairEditorOpen_savesAndCloses();
    void abruptExit_savesATableNotSavedYet_data();
    void abruptExit_savesATableNotSavedYet();
};

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
    frmMainSeams seams = frmMainSeams::real(); // a real, modal question
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

QTEST_MAIN(tst_Shutdown)
#include "tst_shutdown.moc"
