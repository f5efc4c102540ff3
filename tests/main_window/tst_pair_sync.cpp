#include "TestFiles.h"
#include "TestWindow.h"
#include "main_window/list_selection.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray kTwoPairs = "[pairs]\npattern0=a\ncommand0=x\nfocus0=1\n"
                             "pattern1=b\ncommand1=y\nfocus1=1\n";

QStringList logLinesWith(const frmMain& window, const QString& text)
{
    return TestWindow::rows(window.lstLog).filter(text);
}

// As editors save: a new file beside the old, renamed over it.
void replaceFile(const QString& path, const QByteArray& bytes)
{
    putFile(path + QStringLiteral(".new"), bytes);
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(path + QStringLiteral(".new"), path));
}

} // namespace

// The table and its settings file follow each other while the program runs.
class tst_PairSync : public QObject {
    Q_OBJECT

private slots:
    void init();
    void changesInTheWindow_areSavedInOneGo_data();
    void changesInTheWindow_areSavedInOneGo();
    void failedAutosave_isToldOnceAndLoggedEachTime();
    void fileChangedOnDisk_isTakenInWhenTheTableHasNoChanges_data();
    void fileChangedOnDisk_isTakenInWhenTheTableHasNoChanges();
    void bothChanged_theUserChoosesWhichStays_data();
    void bothChanged_theUserChoosesWhichStays();

private:
    QString path() const { return dir_->filePath(QStringLiteral("kormil.ini")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_PairSync::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
}

void tst_PairSync::changesInTheWindow_areSavedInOneGo_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("add") << QStringList{"add c"}
                         << kTwoPairs + "pattern2=c\ncommand2=z\nfocus2=1\n";
    QTest::newRow("edit") << QStringList{"edit"}
                          << QByteArray(kTwoPairs).replace("command1=y", "command1=y2");
    QTest::newRow("delete") << QStringList{"delete"}
                            << QByteArray("[pairs]\npattern0=b\ncommand0=y\nfocus0=1\n");
    QTest::newRow("a burst") << QStringList{"add c", "add d", "edit", "delete"}
                             << QByteArray("[pairs]\npattern0=b\ncommand0=y2\nfocus0=1\n"
                                           "pattern1=c\ncommand1=z\nfocus1=1\n"
                                           "pattern2=d\ncommand2=z\nfocus2=1\n");
}

void tst_PairSync::changesInTheWindow_areSavedInOneGo()
{
    QFETCH(QStringList, changes);
    QFETCH(QByteArray, saved);
    putFile(path(), kTwoPairs);
    TestWindow test(path());
    test.window.Form_Load();
    // As the pair editor and Delete Selection change the lists.
    for (const QString& change : changes) {
        if (change.startsWith(QLatin1String("add ")))
            test.addPair(change.mid(4), QStringLiteral("z"), QStringLiteral("1"));
        else if (change == QLatin1String("edit"))
            test.window.lstCommand->item(1)->setText(QStringLiteral("y2"));
        else
            for (QListWidget* list :
                 {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
                delete list->takeItem(0);
    }
    // Nothing is written at each change; one tick, at most a second later, writes them all.
    QCOMPARE(fileBytes(path()), kTwoPairs);
    QVERIFY(test.window.tmrAutosave->isActive());
    QVERIFY(test.window.tmrAutosave->interval() <= 1000);
    QTRY_COMPARE(fileBytes(path()), saved);
    QVERIFY(!test.window.tmrAutosave->isActive());
    // The program's own save is no change on disk.
    test.window.pairFile_Changed();
    QVERIFY(logLinesWith(test.window, QStringLiteral("Reloaded")).isEmpty());
}

void tst_PairSync::failedAutosave_isToldOnceAndLoggedEachTime()
{
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadOther;
    const auto writable = readOnly | QFileDevice::WriteOwner;
    putFile(path(), kTwoPairs);
    QVERIFY(QFile::setPermissions(path(), readOnly));
    TestWindow test(path());
    test.window.Form_Load();
    // Said before the user types a pair.
    QCOMPARE(
        logLinesWith(test.window, QStringLiteral(" cannot be written (Permission denied)")).size(),
        1);

    const QString failed = QStringLiteral("The speech/command pairs could not be saved to ");
    const auto change = [&test](const char* pattern) {
        test.addPair(QString::fromLatin1(pattern), QStringLiteral("z"), QStringLiteral("1"));
        test.window.tmrAutosave->stop(); // it ticks now
        test.window.tmrAutosave_Timer();
    };
    change("c");
    change("d");
    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil"));
    QVERIFY(test.messages->shown[0].text.startsWith(failed + path()));
    QCOMPARE(logLinesWith(test.window, failed).size(), 2);
    QCOMPARE(fileBytes(path()), kTwoPairs);

    // Mended: the table is saved without waiting for another change; a later failure is told
    // again.
    QVERIFY(QFile::setPermissions(path(), writable));
    QTRY_COMPARE(fileBytes(path()).count("pattern"), 4);
    QCOMPARE(test.messages->shown.size(), 1);
    QVERIFY(QFile::setPermissions(path(), readOnly));
    change("f");
    QCOMPARE(test.messages->shown.size(), 2);
}

void tst_PairSync::fileChangedOnDisk_isTakenInWhenTheTableHasNoChanges_data()
{
    QTest::addColumn<QByteArray>("changed"); // the file afterwards
    QTest::addColumn<bool>("byRename");
    QTest::addColumn<QStringList>("patterns"); // the table afterwards
    QTest::addColumn<int>("reloaded");         // rows reloaded; -1: none
    QTest::newRow("pair added in place") << kTwoPairs + "pattern2=c\ncommand2=z\nfocus2=1\n"
                                         << false << QStringList{"a", "b", "c"} << 3;
    QTest::newRow("pair removed by a rename")
        << QByteArray("[pairs]\npattern0=b\ncommand0=y\nfocus0=1\n") << true << QStringList{"b"}
        << 1;
    QTest::newRow("another section edited") << kTwoPairs + "[window]\nLeft=1\n"
                                            << true << QStringList{"a", "b"} << -1;
    QTest::newRow("touched") << kTwoPairs << false << QStringList{"a", "b"} << -1;
}

void tst_PairSync::fileChangedOnDisk_isTakenInWhenTheTableHasNoChanges()
{
    QFETCH(QByteArray, changed);
    QFETCH(bool, byRename);
    QFETCH(QStringList, patterns);
    QFETCH(int, reloaded);
    putFile(path(), kTwoPairs);
    TestWindow test(path());
    test.window.Form_Load();
    setSelectedRow(test.window.lstPattern, 1);
    if (byRename)
        replaceFile(path(), changed);
    else
        putFile(path(), changed);
    const QString reloadLine =
        QStringLiteral("Reloaded %1 speech/command pairs from %2").arg(reloaded).arg(path());
    if (reloaded >= 0)
        QTRY_COMPARE(logLinesWith(test.window, reloadLine).size(), 1);
    else
        test.window.pairFile_Changed(); // as the watch does; nothing to wait for
    QCOMPARE(TestWindow::rows(test.window.lstPattern), patterns);
    QCOMPARE(TestWindow::rows(test.window.lstCommand).size(), patterns.size());
    QCOMPARE(logLinesWith(test.window, QStringLiteral("Reloaded")).size(), reloaded >= 0 ? 1 : 0);
    QCOMPARE(selectedRow(test.window.lstPattern), reloaded >= 0 ? -1 : 1);
    QCOMPARE(fileBytes(path()), changed);
    QVERIFY(!test.window.tmrAutosave->isActive());
}

void tst_PairSync::bothChanged_theUserChoosesWhichStays_data()
{
    QTest::addColumn<QString>("how"); // the answer, or "unattended" for a signalled shutdown
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<bool>("windowWins");
    QTest::newRow("keep the window's") << "yes" << QStringList{"a", "b", "mine"} << true;
    QTest::newRow("load the file's") << "no" << QStringList{"a", "b", "theirs"} << false;
    QTest::newRow("unattended") << "unattended" << QStringList{"a", "b", "mine"} << true;
}

void tst_PairSync::bothChanged_theUserChoosesWhichStays()
{
    QFETCH(QString, how);
    QFETCH(QStringList, patterns);
    QFETCH(bool, windowWins);
    putFile(path(), kTwoPairs);
    TestWindow test(path());
    test.messages->answer =
        how == QLatin1String("no") ? FakeMessageBox::Answer::No : FakeMessageBox::Answer::Yes;
    test.window.Form_Load();
    test.addPair(QStringLiteral("mine"), QStringLiteral("m"), QStringLiteral("1"));
    const QByteArray theirs = kTwoPairs + "pattern2=theirs\ncommand2=t\nfocus2=1\n";
    replaceFile(path(), theirs);
    if (how == QLatin1String("unattended")) {
        test.window.closeUnattended();
        QVERIFY(test.messages->shown.isEmpty());
    } else {
        QTRY_COMPARE(test.messages->shown.size(), 1);
        QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil"));
        QCOMPARE(test.messages->shown[0].buttons, cMessageBox::Buttons::YesNo);
        QVERIFY(test.messages->shown[0].text.contains(path()));
    }
    QCOMPARE(TestWindow::rows(test.window.lstPattern), patterns);
    const QString backup = path() + QStringLiteral(".bak");
    if (!windowWins) {
        QCOMPARE(fileBytes(path()), theirs);
        QVERIFY(!QFile::exists(backup));
        return;
    }
    QCOMPARE(fileBytes(path()), kTwoPairs + "pattern2=mine\ncommand2=m\nfocus2=1\n");
    QCOMPARE(fileBytes(backup), theirs);
    QCOMPARE(logLinesWith(test.window, QStringLiteral("kept in ") + backup).size(), 1);
}

QTEST_MAIN(tst_PairSync)
#include "tst_pair_sync.moc"
