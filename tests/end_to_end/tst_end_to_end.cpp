#include "RunningKormil.h"
#include "WindowClicker.h"
#include "XvfbDisplay.h"

namespace {

// A table with a gap in its numbering, which a save closes.
QByteArray tableCreating(const QByteArray& file)
{
    return "[pairs]\npattern0=create the file\ncommand0=touch '" + file +
           "'\nfocus0=1\npattern2=second\ncommand2=true\nfocus2=0\n";
}

QByteArray savedTableCreating(const QByteArray& file)
{
    return "[pairs]\npattern0=create the file\ncommand0=touch '" + file +
           "'\nfocus0=1\npattern1=second\ncommand1=true\nfocus1=0\n";
}

} // namespace

// The built program, as a user runs it: its settings file beside it, a recogniser on loopback.
class tst_EndToEnd : public QObject {
    Q_OBJECT

private slots:
    void voiceString_runsThePairedCommand_andClosingSavesTheTable();
    void terminated_whileAMessageBoxWaits_savesAndExits();
    void logReaderGone_keepsServingAndSavesTheTable();
    void displayGone_theTableIsSavedBeforeTheEnd();
    void hangUpIgnoredAtStart_staysIgnored();
    void settingsOutOfReach_areReportedAndLeftAsTheyAre_data();
    void settingsOutOfReach_areReportedAndLeftAsTheyAre();
    void programWithADotInItsName_usesAFileOfItsWholeName();
    void pairAddedInTheWindow_isSavedAtOnce_andSurvivesKill();
    void pairAddedOnDisk_isMatchedWithoutARestart_data();
    void pairAddedOnDisk_isMatchedWithoutARestart();
    void secondCopyOnTheSameFile_saysSoAndLeavesTheFileAlone();
};

void tst_EndToEnd::voiceString_runsThePairedCommand_andClosingSavesTheTable()
{
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    const QByteArray created = kormil.path(QStringLiteral("created")).toLocal8Bit();
    QVERIFY(kormil.start(tableCreating(created)));

    QVERIFY(kormil.sendAlone("create the file"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLocal8Bit(created)), 15000);
    QVERIFY(kormil.stop()); // SIGTERM: closes the window as its close button does

    const QByteArray log = kormil.log();
    QVERIFY2(log.contains(" Received voice string: create the file\n"), log.constData());
    QVERIFY2(log.contains(" Executing: touch '" + created + "'\n"), log.constData());
    QCOMPARE(fileBytes(kormil.settingsPath()), savedTableCreating(created));
}

void tst_EndToEnd::logReaderGone_keepsServingAndSavesTheTable()
{
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    kormil.logThroughPipe();
    const QByteArray created = kormil.path(QStringLiteral("created")).toLocal8Bit();
    QVERIFY(kormil.start(tableCreating(created)));
    kormil.closeLogReader();

    // Every line logged from here on meets a pipe that nobody reads.
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, RunningKormil::kPort);
    QVERIFY(peer.waitForConnected(5000));
    peer.write("create the file");
    QVERIFY(peer.waitForBytesWritten(5000));
    peer.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLocal8Bit(created)), 15000);
    QVERIFY(kormil.stop());
    QCOMPARE(fileBytes(kormil.settingsPath()), savedTableCreating(created));
}

void tst_EndToEnd::terminated_whileAMessageBoxWaits_savesAndExits()
{
    QTcpServer occupier;
    if (!occupier.listen(QHostAddress::Any, RunningKormil::kPort))
        QSKIP("TCP port 2011 is in use here, so the test cannot occupy it itself");
    RunningKormil kormil;
    // With its port taken, start-up waits on the message box "Please specify a TCP port...".
    QVERIFY(kormil.start("[pairs]\npattern1=one\ncommand1=true\nfocus1=1\npattern0=zero\n"
                         "command0=true\nfocus0=0\n",
                         RunningKormil::Wait::ForStart));
    QTRY_VERIFY(kormil.waitsForEvents());
    QCOMPARE(kormil.process.state(), QProcess::Running);
    QVERIFY(kormil.stop());
    QCOMPARE(fileBytes(kormil.settingsPath()),
             QByteArray("[pairs]\npattern0=zero\ncommand0=true\nfocus0=0\n"
                        "pattern1=one\ncommand1=true\nfocus1=1\n"));
}

void tst_EndToEnd::displayGone_theTableIsSavedBeforeTheEnd()
{
    if (!XvfbDisplay::available())
        QSKIP("needs Xvfb (package xvfb) for a display that can go away");
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    auto display = std::make_unique<XvfbDisplay>();
    QVERIFY(display->start());
    RunningKormil kormil;
    kormil.useDisplay(display->name());
    QVERIFY(kormil.start("[pairs]\npattern2=kept\ncommand2=true\nfocus2=1\n"));
    display.reset(); // as at the end of a session, before any signal reaches the program
    QVERIFY(kormil.process.waitForFinished(15000));
    // Saved in the table's own numbering: the save really ran.
    QCOMPARE(fileBytes(kormil.settingsPath()),
             QByteArray("[pairs]\npattern0=kept\ncommand0=true\nfocus0=1\n"));
}

void tst_EndToEnd::hangUpIgnoredAtStart_staysIgnored()
{
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    kormil.ignoreHangUp(); // nohup kormil
    QVERIFY(kormil.start("[pairs]\npattern0=still here\ncommand0=true\nfocus0=1\n"));
    QCOMPARE(::kill(static_cast<pid_t>(kormil.process.processId()), SIGHUP), 0);
    // Served after the hang-up arrived: the program went on listening and dispatching.
    QVERIFY(kormil.sendAlone("still here"));
    QVERIFY(kormil.log().contains(" Executing: true\n"));
    QCOMPARE(kormil.process.state(), QProcess::Running);
    QVERIFY(kormil.stop());
}

void tst_EndToEnd::settingsOutOfReach_areReportedAndLeftAsTheyAre_data()
{
    QTest::addColumn<RunningKormil::Restriction>("restriction");
    QTest::addColumn<QByteArray>("loadLine");  // empty: none expected
    QTest::addColumn<QByteArray>("startLine"); // said at start-up; empty: none expected
    QTest::addColumn<QByteArray>("voiceLine");
    QTest::addColumn<QByteArray>("saveLine"); // the path stands where "%1" is
    QTest::newRow("file unreadable")
        << RunningKormil::Restriction::UnreadableSettings
        << QByteArray(" (Permission denied). The table starts empty and the file is left as it "
                      "is.\n")
        << QByteArray() << QByteArray(" No matching voice string found!\n")
        << QByteArray(" The speech/command pairs could not be saved to %1 (Permission denied). "
                      "The file keeps the pairs it held before.\n");
    // The file can still be written, only not replaced.
    QTest::newRow("folder read-only at shutdown")
        << RunningKormil::Restriction::ReadOnlyFolder << QByteArray()
        << QByteArray(" The folder of the settings file %1 cannot be written (Permission "
                      "denied): the speech/command pairs will be saved by rewriting the file in "
                      "place, and a crash during such a save can damage it.\n")
        << QByteArray(" Executing: true\n")
        << QByteArray(" The speech/command pairs were saved by rewriting %1 in place, because "
                      "its folder is not writable; a crash during such a save can damage the "
                      "file.\n");
}

void tst_EndToEnd::settingsOutOfReach_areReportedAndLeftAsTheyAre()
{
    QFETCH(RunningKormil::Restriction, restriction);
    QFETCH(QByteArray, loadLine);
    QFETCH(QByteArray, startLine);
    QFETCH(QByteArray, voiceLine);
    QFETCH(QByteArray, saveLine);
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    kormil.restrict(restriction);
    const QByteArray settings = "[pairs]\npattern0=keep me\ncommand0=true\nfocus0=1\n";
    QVERIFY(kormil.start(settings));
    const QByteArray readFailure =
        " Could not read the speech/command pairs from " + kormil.settingsPath().toLocal8Bit();
    QCOMPARE(kormil.log().contains(readFailure + loadLine), !loadLine.isEmpty());
    const QByteArray path = kormil.settingsPath().toLocal8Bit();
    QCOMPARE(kormil.log().contains("cannot be written"), !startLine.isEmpty());
    if (restriction == RunningKormil::Restriction::ReadOnlyFolder)
        QVERIFY(kormil.log().contains(" The lock file " + path +
                                      ".lock cannot be made (its folder is not writable)"));
    QVERIFY(kormil.log().contains(QByteArray(startLine).replace("%1", path)));

    QVERIFY(kormil.sendAlone("keep me"));
    QTRY_VERIFY(kormil.log().contains(voiceLine));
    QVERIFY(kormil.stop());
    const QByteArray log = kormil.log();
    QVERIFY2(log.contains(saveLine.replace("%1", kormil.settingsPath().toLocal8Bit())),
             log.constData());
    kormil.liftRestriction();
    QCOMPARE(fileBytes(kormil.settingsPath()), settings);
}

void tst_EndToEnd::programWithADotInItsName_usesAFileOfItsWholeName()
{
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    kormil.setProgramName(QStringLiteral("kormil.v2"));
    const QString shared = kormil.path(QStringLiteral("kormil.ini"));
    putFile(shared, "[pairs]\npattern0=of another copy\ncommand0=true\nfocus0=1\n");
    QVERIFY(kormil.start("[pairs]\npattern3=mine\ncommand3=true\nfocus3=1\n"));
    QVERIFY(kormil.stop());
    QCOMPARE(kormil.settingsPath(), kormil.path(QStringLiteral("kormil.v2.ini")));
    // Saved in the table's own numbering: this file was loaded and saved.
    QCOMPARE(fileBytes(kormil.settingsPath()),
             QByteArray("[pairs]\npattern0=mine\ncommand0=true\nfocus0=1\n"));
    QCOMPARE(fileBytes(shared), QByteArray("[pairs]\npattern0=of another copy\ncommand0=true\n"
                                           "focus0=1\n"));
}

void tst_EndToEnd::pairAddedInTheWindow_isSavedAtOnce_andSurvivesKill()
{
    if (!XvfbDisplay::available() || !WindowClicker::available())
        QSKIP("typing into the real window needs Xvfb and xdotool (packages xvfb, xdotool)");
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    XvfbDisplay display;
    QVERIFY(display.start());
    RunningKormil kormil;
    kormil.useDisplay(display.name());
    const QByteArray before = "[pairs]\npattern0=old\ncommand0=true\nfocus0=1\n";
    QVERIFY(kormil.start(before));
    WindowClicker clicker(display.name());
    QVERIFY(clicker.find(QStringLiteral("Kormil")));
    // "New string/command pair" lies at (3960, 120), 2175 x 255 in 12285 x 5880 twips.
    const QSize window = clicker.size();
    QVERIFY(clicker.click(window.width() * (3960 + 2175 / 2) / 12285,
                          window.height() * (120 + 255 / 2) / 5880));
    QVERIFY(clicker.find(QStringLiteral("Add Pair")));
    QVERIFY(clicker.type(QStringLiteral("open the notes"), {QStringLiteral("Tab")}));
    QVERIFY(clicker.type(QStringLiteral("true"), {QStringLiteral("Return")}));
    const QByteArray after = before + "pattern1=open the notes\ncommand1=true\nfocus1=1\n";
    QTRY_COMPARE(fileBytes(kormil.settingsPath()), after);

    kormil.process.kill(); // no shutdown save
    QVERIFY(kormil.process.waitForFinished());
    QCOMPARE(fileBytes(kormil.settingsPath()), after);
}

void tst_EndToEnd::pairAddedOnDisk_isMatchedWithoutARestart_data()
{
    QTest::addColumn<bool>("unreadableAtStart");
    QTest::newRow("written by an editor") << false;
    // Until the user mends the permissions, the table starts empty; nothing may be lost then.
    QTest::newRow("unreadable at start, then readable") << true;
}

void tst_EndToEnd::pairAddedOnDisk_isMatchedWithoutARestart()
{
    QFETCH(bool, unreadableAtStart);
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    const QByteArray onDisk = "[pairs]\npattern0=first\ncommand0=true\nfocus0=1\n"
                              "pattern1=added on disk\ncommand1=true added on disk\nfocus1=1\n";
    if (unreadableAtStart) {
        kormil.restrict(RunningKormil::Restriction::UnreadableSettings);
        QVERIFY(kormil.start(onDisk));
        QVERIFY(QFile::setPermissions(kormil.settingsPath(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadOther | QFileDevice::WriteOther));
    } else {
        QVERIFY(kormil.start("[pairs]\npattern0=first\ncommand0=true\nfocus0=1\n"));
        const QString edited = kormil.path(QStringLiteral("kormil.ini.edited"));
        putFile(edited, onDisk);
        QVERIFY(QFile::remove(kormil.settingsPath()));
        QVERIFY(QFile::rename(edited, kormil.settingsPath()));
    }
    QTRY_VERIFY(kormil.log().contains(" Reloaded 2 speech/command pairs from " +
                                      kormil.settingsPath().toLocal8Bit() + "\n"));
    QVERIFY(kormil.sendAlone("added on disk"));
    QTRY_VERIFY(kormil.log().contains(" Executing: true added on disk\n"));
    QVERIFY(kormil.stop());
    QCOMPARE(fileBytes(kormil.settingsPath()), onDisk);
}

void tst_EndToEnd::secondCopyOnTheSameFile_saysSoAndLeavesTheFileAlone()
{
    if (!RunningKormil::portIsFree())
        QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    RunningKormil kormil;
    // Numbered with a gap: any save by either copy would close it.
    const QByteArray settings = "[pairs]\npattern3=mine\ncommand3=true\nfocus3=1\n";
    QVERIFY(kormil.start(settings));

    QProcess second;
    second.setProcessEnvironment(kormil.process.processEnvironment());
    second.setStandardErrorFile(kormil.path(QStringLiteral("second.log")));
    second.start(kormil.path(QStringLiteral("kormil")), {});
    QVERIFY(second.waitForStarted());
    QTRY_VERIFY(fileBytes(kormil.path(QStringLiteral("second.log")))
                    .contains("Kormil is already running with the settings file " +
                              kormil.settingsPath().toLocal8Bit()));
    // Its box waits; a signal ends it all the same.
    QTRY_VERIFY(
        fileBytes(QStringLiteral("/proc/%1/wchan").arg(second.processId())).contains("poll"));
    second.terminate();
    QVERIFY(second.waitForFinished());
    QCOMPARE(second.exitCode(), 1);
    QCOMPARE(fileBytes(kormil.settingsPath()), settings);

    QCOMPARE(kormil.process.state(), QProcess::Running);
    QVERIFY(kormil.sendAlone("mine"));
    QVERIFY(kormil.stop());
    QCOMPARE(fileBytes(kormil.settingsPath()),
             QByteArray("[pairs]\npattern0=mine\ncommand0=true\nfocus0=1\n"));
}

QTEST_GUILESS_MAIN(tst_EndToEnd)
#include "tst_end_to_end.moc"
