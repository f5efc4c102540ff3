#include "TestFiles.h"
#include "TestWindow.h"
#include "main_window/pair_file.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

QByteArray pairsSection(int rows, const QByteArray& word = "p")
{
    QByteArray text = "[pairs]\n";
    for (int i = 0; i < rows; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "pattern" + n + "=" + word + n + "\ncommand" + n + "=c" + n + "\nfocus" + n + "=" +
                QByteArray::number(i % 7 == 5 ? 6 : i % 7) + "\n";
    }
    return text;
}

// This process's threads, whose number falls back once a window's reading ahead has ended.
int threadCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

QStringList patternsOf(const QByteArray& file)
{
    QStringList patterns;
    for (const QByteArray& line : file.split('\n')) {
        if (line.startsWith("pattern"))
            patterns << QString::fromLatin1(line.mid(line.indexOf('=') + 1));
    }
    return patterns;
}

} // namespace

class tst_PairStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void missingFile_startsEmptyAndWritesNothing();
    void load_data();
    void load();
    void fileChangedAfterReadAhead_loadsTheFileAsItIsNow_data();
    void fileChangedAfterReadAhead_loadsTheFileAsItIsNow();
    void rowOf_takesOnlyTheKeysTheLoaderReads_data();
    void rowOf_takesOnlyTheKeysTheLoaderReads();
    void saveThenLoad_roundTrip_data();
    void saveThenLoad_roundTrip();
    void save_replacesOnlyThePairsSection();
    void save_ofEmptyTable_removesTheSection();
    void failedSave_tellsTheUserAndKeepsTheFile();
    void hostileFile_loadsAndSavesWhatItCan_data();
    void hostileFile_loadsAndSavesWhatItCan();
    void notARegularFile_isReportedAtLoadAndShutdown_data();
    void notARegularFile_isReportedAtLoadAndShutdown();
    void save_keepsABackupOfWhatTheTableLacks_data();
    void save_keepsABackupOfWhatTheTableLacks();
    void failedSave_changesNothingAndSaysWhy_data();
    void failedSave_changesNothingAndSaysWhy();
    void unattendedShutdown_logsAFailedSaveInsteadOfAsking();
    void fullDisk_atShutdown_keepsTheOldTable();
    void killedDuringSave_leavesOldOrNewTable();

private:
    QString path() const { return dir_->filePath(QStringLiteral("kormil.ini")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_PairStore::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
}

void tst_PairStore::missingFile_startsEmptyAndWritesNothing()
{
    TestWindow test(path());
    test.window.Form_Load();
    QVERIFY(test.window.lstLog->item(0)->text().endsWith(QStringLiteral(" Kormil started")));
    QCOMPARE(test.window.lstPattern->count(), 0);
    test.window.close();
    QVERIFY(!QFile::exists(path()));
    QVERIFY(test.messages->shown.isEmpty());
}

void tst_PairStore::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("styles");

    QTest::newRow("two keys: one row without style")
        << QByteArray("[pairs]\npattern0=a\ncommand0=b\n") << QStringList{"a"} << QStringList{"b"}
        << QStringList{""};
    QByteArray shuffled = "[pairs]\n";
    for (int i : {10, 3, 0, 7, 1, 11, 2, 9, 4, 8, 6, 5})
        shuffled += "focus" + QByteArray::number(i) + "=1\ncommand" + QByteArray::number(i) + "=c" +
                    QByteArray::number(i) + "\npattern" + QByteArray::number(i) + "=p" +
                    QByteArray::number(i) + "\n";
    QStringList ordered, orderedCommands;
    for (int i = 0; i < 12; ++i) {
        ordered << QStringLiteral("p%1").arg(i);
        orderedCommands << QStringLiteral("c%1").arg(i);
    }
    QTest::newRow("any key order loads in index order")
        << shuffled << ordered << orderedCommands << QStringList(12, QStringLiteral("1"));
    QTest::newRow("empty pattern inside is skipped")
        << QByteArray("[pairs]\npattern0=a\ncommand0=1\nfocus0=0\npattern1=\ncommand1=2\n"
                      "focus1=0\npattern2=c\ncommand2=3\nfocus2=4\n")
        << QStringList{"a", "c"} << QStringList{"1", "3"} << QStringList{"0", "4"};
    QTest::newRow("empty last pattern ends the scan")
        << QByteArray("[pairs]\npattern0=a\ncommand0=1\nfocus0=0\npattern1=\ncommand1=2\n"
                      "focus1=0\n")
        << QStringList{"a"} << QStringList{"1"} << QStringList{"0"};
    QTest::newRow("foreign keys end the scan")
        << QByteArray("[pairs]\npattern0=a\ncommand0=1\nfocus0=3\nx=1\ny=2\nz=3\nw=4\n")
        << QStringList{"a"} << QStringList{"1"} << QStringList{"3"};
    QByteArray rowDeleted = pairsSection(10);
    rowDeleted.replace("pattern3=p3\ncommand3=c3\nfocus3=3\n", "");
    QTest::newRow("a row deleted by hand")
        << rowDeleted << QStringList{"p0", "p1", "p2", "p4", "p5", "p6", "p7", "p8", "p9"}
        << QStringList{"c0", "c1", "c2", "c4", "c5", "c6", "c7", "c8", "c9"}
        << QStringList{"0", "1", "2", "4", "6", "6", "0", "1", "2"};
    QByteArray noStyles = pairsSection(9);
    for (int i = 0; i < 9; ++i)
        noStyles.replace("focus" + QByteArray::number(i) + "=" +
                             QByteArray::number(i % 7 == 5 ? 6 : i % 7) + "\n",
                         "");
    QTest::newRow("9 pairs without focus keys")
        << noStyles << QStringList{"p0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8"}
        << QStringList{"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8"} << QStringList(9);
    QTest::newRow("rows numbered 0, 10, 20")
        << QByteArray("[pairs]\npattern0=a\ncommand0=1\nfocus0=0\npattern10=b\ncommand10=2\n"
                      "focus10=1\npattern20=c\ncommand20=3\nfocus20=2\n")
        << QStringList{"a", "b", "c"} << QStringList{"1", "2", "3"} << QStringList{"0", "1", "2"};
    QTest::newRow("gap in the numbering")
        << QByteArray("[pairs]\npattern0=a\ncommand0=1\nfocus0=0\npattern5=f\ncommand5=6\n"
                      "focus5=2\n")
        << QStringList{"a", "f"} << QStringList{"1", "6"} << QStringList{"0", "2"};
    QTest::newRow("values with equals and blanks")
        << QByteArray("[pairs]\npattern0=a = b\ncommand0=\" sh -c 'x=1' \"\nfocus0=1\n")
        << QStringList{"a = b"} << QStringList{" sh -c 'x=1' "} << QStringList{"1"};
    QTest::newRow("other sections ignored")
        << QByteArray("[x]\npattern0=no\n[pairs]\npattern0=yes\ncommand0=c\nfocus0=1\n")
        << QStringList{"yes"} << QStringList{"c"} << QStringList{"1"};
}

void tst_PairStore::load()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, patterns);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, styles);

    putFile(path(), file);
    TestWindow test(path());
    test.window.Form_Load();
    QCOMPARE(TestWindow::rows(test.window.lstPattern), patterns);
    QCOMPARE(TestWindow::rows(test.window.lstCommand), commands);
    QCOMPARE(TestWindow::rows(test.window.lstFocus), styles);
}

void tst_PairStore::fileChangedAfterReadAhead_loadsTheFileAsItIsNow_data()
{
    QTest::addColumn<QByteArray>("after");

    // Rows enough to be read ahead in more than one piece.
    const QByteArray before = pairsSection(3000);
    QTest::newRow("unchanged") << before;
    QTest::newRow("same size, last row changed") << QByteArray(before).replace("=p2999", "=q2999");
    QTest::newRow("same size, first row changed") << QByteArray(before).replace("=p0\n", "=q0\n");
    QTest::newRow("first row removed")
        << QByteArray(before).replace("pattern0=p0\ncommand0=c0\nfocus0=0\n", "");
    QTest::newRow("grown") << pairsSection(3001);
    QTest::newRow("emptied") << QByteArray();
}

void tst_PairStore::fileChangedAfterReadAhead_loadsTheFileAsItIsNow()
{
    QFETCH(QByteArray, after);
    const int threads = threadCount();
    putFile(path(), pairsSection(3000));
    TestWindow test(path());
    // Changed once the window has read it ahead, that is, once its reading thread has ended.
    QTRY_COMPARE(threadCount(), threads);
    putFile(path(), after);
    test.window.Form_Load();
    const QStringList patterns = patternsOf(after);
    QCOMPARE(TestWindow::rows(test.window.lstPattern), patterns);
    QCOMPARE(test.window.lstCommand->count(), patterns.size());
    QCOMPARE(test.window.lstFocus->count(), patterns.size());
    test.window.close();
    // Only a table loaded from some other text than the file's would leave a backup.
    QVERIFY(!QFile::exists(path() + QStringLiteral(".bak")));
    QVERIFY(test.messages->shown.isEmpty());
}

void tst_PairStore::rowOf_takesOnlyTheKeysTheLoaderReads_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("row");

    QTest::newRow("pattern") << "pattern0" << int(pair_file::Pattern) << 0;
    QTest::newRow("any ASCII case") << "PatTERN17" << int(pair_file::Pattern) << 17;
    QTest::newRow("highest five digits") << "command99999" << int(pair_file::Command) << 99999;
    QTest::newRow("focus") << "Focus32766" << int(pair_file::Focus) << 32766;
    QTest::newRow("another word") << "command3" << int(pair_file::Focus) << -1;
    QTest::newRow("leading zero") << "pattern07" << int(pair_file::Pattern) << -1;
    QTest::newRow("no digits") << "pattern" << int(pair_file::Pattern) << -1;
    QTest::newRow("six digits") << "pattern100000" << int(pair_file::Pattern) << -1;
    QTest::newRow("a letter after the digits") << "pattern1a" << int(pair_file::Pattern) << -1;
    QTest::newRow("longer word") << "patterns1" << int(pair_file::Pattern) << -1;
    QTest::newRow("sign") << "pattern-1" << int(pair_file::Pattern) << -1;
    QTest::newRow("digits of another script")
        << QStringLiteral("pattern\u0661") << int(pair_file::Pattern) << -1;
    // The store compares names in ASCII only: this key is not focus1 to it.
    QTest::newRow("a letter that folds to s")
        << QStringLiteral("focu\u017F1") << int(pair_file::Focus) << -1;
}

void tst_PairStore::rowOf_takesOnlyTheKeysTheLoaderReads()
{
    QFETCH(QString, key);
    QFETCH(int, word);
    QFETCH(int, row);
    QCOMPARE(pair_file::rowOf(key, static_cast<pair_file::Word>(word)), row);
    // Told apart from the key alone, whatever the word.
    const pair_file::RowKey rowKey = pair_file::rowKeyOf(key);
    if (row >= 0) {
        QCOMPARE(int(rowKey.word), word);
        QCOMPARE(rowKey.row, row);
    }
}

void tst_PairStore::saveThenLoad_roundTrip_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("1") << 1;
    QTest::newRow("275") << 275;
    QTest::newRow("276") << 276;
    QTest::newRow("32767") << 32767;
}

void tst_PairStore::saveThenLoad_roundTrip()
{
    QFETCH(int, rows);
    {
        TestWindow test(path());
        test.window.Form_Load();
        for (int i = 0; i < rows; ++i)
            test.addPair(QStringLiteral("say %1 ünïcode").arg(i),
                         QStringLiteral("echo \"%1\" = ;#").arg(i), QString::number(i % 5));
        test.window.close();
    }
    QCOMPARE(fileBytes(path()).count('\n'), 1 + 3 * rows);
    TestWindow again(path());
    again.window.Form_Load();
    QCOMPARE(again.window.lstPattern->count(), rows);
    QCOMPARE(again.window.lstPattern->item(rows - 1)->text(),
             QStringLiteral("say %1 ünïcode").arg(rows - 1));
    QCOMPARE(again.window.lstCommand->item(rows - 1)->text(),
             QStringLiteral("echo \"%1\" = ;#").arg(rows - 1));
    QCOMPARE(again.window.lstFocus->item(rows - 1)->text(), QString::number((rows - 1) % 5));
}

void tst_PairStore::save_replacesOnlyThePairsSection()
{
    const QByteArray before = "; mine\n[window]\nLeft=1200\n\n[pairs]\npattern0=gap\ncommand0=x\n"
                              "focus0=1\npattern1=\npattern2=b\ncommand2=y\nfocus2=2\nextra=1\n"
                              "\n[after]\nk=v\n";
    putFile(path(), before);
    TestWindow test(path());
    test.window.Form_Load();
    QCOMPARE(TestWindow::rows(test.window.lstPattern), (QStringList{"gap", "b"}));
    test.window.close();
    QCOMPARE(fileBytes(path()), QByteArray("; mine\n[window]\nLeft=1200\n\n[after]\nk=v\n\n"
                                           "[pairs]\npattern0=gap\ncommand0=x\nfocus0=1\n"
                                           "pattern1=b\ncommand1=y\nfocus1=2\n"));
}

void tst_PairStore::save_ofEmptyTable_removesTheSection()
{
    putFile(path(), "[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n[keep]\nk=v\n");
    TestWindow test(path());
    test.window.Form_Load();
    for (QListWidget* list : {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
        list->clear();
    test.window.close();
    QCOMPARE(fileBytes(path()), QByteArray("[keep]\nk=v\n"));
}

void tst_PairStore::failedSave_tellsTheUserAndKeepsTheFile()
{
    QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("app")));
    const QString inside = dir_->filePath(QStringLiteral("app/kormil.ini"));
    putFile(inside, "[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n");
    TestWindow test(inside);
    test.window.Form_Load();
    test.addPair(QStringLiteral("new"), QStringLiteral("cmd"), QStringLiteral("1"));
    // The directory goes away under the program, as an unmounted or removed folder would.
    QVERIFY(QDir(dir_->path()).rename(QStringLiteral("app"), QStringLiteral("moved")));
    test.window.close();
    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil"));
    QVERIFY(test.messages->shown[0].text.contains(inside));
    QCOMPARE(fileBytes(dir_->filePath(QStringLiteral("moved/kormil.ini"))),
             QByteArray("[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n"));
}

void tst_PairStore::hostileFile_loadsAndSavesWhatItCan_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("rows");

    QByteArray garbage;
    for (int i = 0; i < 65536; ++i)
        garbage.append(static_cast<char>((i * 2654435761u) >> 24));
    QTest::newRow("binary garbage") << garbage + "\n[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n"
                                    << 1;
    QTest::newRow("NUL bytes") << QByteArray("[pairs]\npattern0=a\0b\ncommand0=c\0\nfocus0=1\n", 39)
                               << 1;
    QTest::newRow("100,000-character line")
        << "[pairs]\npattern0=" + QByteArray(100000, 'p') + "\ncommand0=c\nfocus0=1\n"
        << 1;
    QByteArray large = "[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n[bulk]\n";
    while (large.size() < 50 * 1024 * 1024)
        large += "k" + QByteArray::number(large.size()) + "=" + QByteArray(100, 'v') + "\n";
    QTest::newRow("50 MB file") << large << 1;
}

void tst_PairStore::hostileFile_loadsAndSavesWhatItCan()
{
    QFETCH(QByteArray, file);
    QFETCH(int, rows);

    putFile(path(), file);
    QStringList loaded;
    {
        TestWindow test(path());
        test.window.Form_Load();
        loaded = TestWindow::rows(test.window.lstPattern);
        QCOMPARE(loaded.size(), rows);
        test.window.close();
        QVERIFY(test.messages->shown.isEmpty());
    }
    TestWindow again(path());
    again.window.Form_Load();
    // A value written to the settings file never holds NUL: the write drops it.
    QCOMPARE(TestWindow::rows(again.window.lstPattern),
             loaded.replaceInStrings(QChar(0), QString()));
}

void tst_PairStore::notARegularFile_isReportedAtLoadAndShutdown_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a directory") << "directory"
                                 << "Is a directory";
    // Opening a FIFO nobody writes to would hold start-up, and the listener, forever.
    QTest::newRow("a FIFO") << "fifo"
                            << "it is not a regular file";
    QTest::newRow("a socket") << "socket"
                              << "it is not a regular file";
    QTest::newRow("a link to a device") << "device"
                                        << "it is not a regular file";
}

void tst_PairStore::notARegularFile_isReportedAtLoadAndShutdown()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QVERIFY(makeNonRegularFile(path(), kind));
    const QFileInfo before(path());
    TestWindow test(path());
    test.window.Form_Load();
    const QStringList log = TestWindow::rows(test.window.lstLog);
    QVERIFY2(log.at(1).endsWith(QStringLiteral(" Could not read the speech/command pairs from ") +
                                path() + QStringLiteral(" (") + reason +
                                QStringLiteral("). The table starts empty and the file is left "
                                               "as it is.")),
             qPrintable(log.at(1)));
    QVERIFY(log.at(2).contains(QStringLiteral(" Kormil started listening on ")));
    test.addPair(QStringLiteral("p"), QStringLiteral("c"), QStringLiteral("1"));
    test.window.close();
    QCOMPARE(test.messages->shown.size(), 1);
    QVERIFY(test.messages->shown[0].text.contains(path() + QStringLiteral(" (") + reason));
    const QFileInfo after(path());
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isDir(), before.isDir());
    QVERIFY(!after.isFile() || after.isSymLink());
}

void tst_PairStore::save_keepsABackupOfWhatTheTableLacks_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("whileRunning"); // written while the table is loaded, if any
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QString>("leftOut"); // what the log line names; empty: no backup

    const QByteArray row0 = "[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n";
    QTest::newRow("rows 0, 10, 20: renumbered, nothing lost")
        << QByteArray("[pairs]\npattern0=a\ncommand0=b\nfocus0=1\npattern10=c\ncommand10=d\n"
                      "focus10=2\npattern20=e\ncommand20=f\nfocus20=3\n")
        << QByteArray()
        << QByteArray("[pairs]\npattern0=a\ncommand0=b\nfocus0=1\npattern1=c\ncommand1=d\n"
                      "focus1=2\npattern2=e\ncommand2=f\nfocus2=3\n")
        << QString();
    QTest::newRow("rows without focus keys: nothing lost")
        << QByteArray("[pairs]\nPattern0 = a\ncommand0=b\n\npattern1=c\ncommand1=d\n")
        << QByteArray()
        << QByteArray("[pairs]\npattern0=a\ncommand0=b\nfocus0=\npattern1=c\ncommand1=d\n"
                      "focus1=\n")
        << QString();
    QTest::newRow("a comment and a key of no row")
        << QByteArray("[pairs]\n; my note\npattern0=a\ncommand0=b\nfocus0=1\npattern00=x\n")
        << QByteArray() << row0 << "\"; my note\", \"pattern00=x\"";
    QTest::newRow("a second section [pairs]")
        << row0 + "[pairs]\npattern1=z\n"
        << QByteArray() << row0 << "\"[pairs]\", \"pattern1=z\"";
    QTest::newRow("the command of a row without a pattern")
        << row0 + "command1=orphan\n"
        << QByteArray() << row0 << "\"command1=orphan\"";
    QTest::newRow("a value the load cut at 254 bytes")
        << "[pairs]\npattern0=a\ncommand0=" + QByteArray(300, 'c') + "\nfocus0=1\n"
        << QByteArray() << "[pairs]\npattern0=a\ncommand0=" + QByteArray(254, 'c') + "\nfocus0=1\n"
        << "\"command0=" + QString(51, u'c') + u'…';
    // The table had no changes of its own: the file's are taken in first.
    QTest::newRow("a pair added on disk while Kormil runs")
        << row0 << row0 + "pattern1=new\ncommand1=n\nfocus1=1\n"
        << row0 + "pattern1=new\ncommand1=n\nfocus1=1\n"
        << QString();
}

void tst_PairStore::save_keepsABackupOfWhatTheTableLacks()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, whileRunning);
    QFETCH(QByteArray, saved);
    QFETCH(QString, leftOut);
    const QString backup = path() + QStringLiteral(".bak");
    putFile(path(), file);
    TestWindow test(path());
    test.window.Form_Load();
    if (!whileRunning.isNull())
        putFile(path(), whileRunning);
    test.window.close();
    QCOMPARE(fileBytes(path()), saved);
    QVERIFY(test.messages->shown.isEmpty());
    const QString last = TestWindow::rows(test.window.lstLog).last();
    if (leftOut.isEmpty()) {
        QVERIFY(!QFile::exists(backup));
        QVERIFY2(!last.contains(backup), qPrintable(last));
        return;
    }
    QCOMPARE(fileBytes(backup), whileRunning.isNull() ? file : whileRunning);
    QVERIFY2(last.contains(QStringLiteral(" The settings file as it was is kept in ") + backup +
                           QStringLiteral(", because its section [pairs] ")) &&
                 last.contains(leftOut),
             qPrintable(last));
}

void tst_PairStore::failedSave_changesNothingAndSaysWhy_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a line break in a pair")
        << "two\nlines" << false << "a pair holds a line break, which the file cannot keep";
    // Root may write any file; one without a write bit is still left alone.
    QTest::newRow("a file without write permission") << "p" << true << "Permission denied";
}

void tst_PairStore::failedSave_changesNothingAndSaysWhy()
{
    QFETCH(QString, pattern);
    QFETCH(bool, readOnly);
    QFETCH(QString, reason);
    const QByteArray before = "[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n[other]\nk=v\n";
    putFile(path(), before);
    if (readOnly)
        QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::ReadOther));
    TestWindow test(path());
    test.window.Form_Load();
    test.addPair(pattern, QStringLiteral("c"), QStringLiteral("1"));
    test.window.close();
    QCOMPARE(fileBytes(path()), before);
    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].text,
             QStringLiteral("The speech/command pairs could not be saved to ") + path() +
                 QStringLiteral(" (") + reason +
                 QStringLiteral("). The file keeps the pairs it held before."));
}

void tst_PairStore::unattendedShutdown_logsAFailedSaveInsteadOfAsking()
{
    QVERIFY(QDir().mkpath(path()));
    TestWindow test(path());
    test.window.Form_Load();
    test.addPair(QStringLiteral("p"), QStringLiteral("c"), QStringLiteral("1"));
    test.window.closeUnattended();
    QVERIFY(test.messages->shown.isEmpty());
    const QString last = TestWindow::rows(test.window.lstLog).last();
    QVERIFY2(last.contains(QStringLiteral("could not be saved to ") + path()), qPrintable(last));
}

void tst_PairStore::fullDisk_atShutdown_keepsTheOldTable()
{
    const QString small = dir_->filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(small));
    QProcess mount;
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=64k"), QStringLiteral("tmpfs"), small});
    if (!mount.waitForFinished() || mount.exitCode() != 0)
        QSKIP("cannot mount a small tmpfs here (it needs root); the full-disk case is untested");
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {small}); });

    const QString inside = small + QStringLiteral("/kormil.ini");
    const QByteArray before = pairsSection(10);
    putFile(inside, before);
    TestWindow test(inside);
    test.window.Form_Load();
    for (int i = 0; i < 3000; ++i)
        test.addPair(QStringLiteral("pattern number %1").arg(i), QStringLiteral("command"),
                     QStringLiteral("1"));
    test.window.close();
    QCOMPARE(test.messages->shown.size(), 1);
    QVERIFY(test.messages->shown[0].text.contains(inside));
    QCOMPARE(fileBytes(inside), before);
}

void tst_PairStore::killedDuringSave_leavesOldOrNewTable()
{
    putFile(path(), pairsSection(250, "old "));
    int newTablesSeen = 0;
    for (int attempt = 0; attempt < 25; ++attempt) {
        QProcess saver;
        saver.setStandardErrorFile(QProcess::nullDevice());
        saver.start(QStringLiteral(SAVE_LOOP_HELPER), {path()});
        QVERIFY(saver.waitForStarted());
        const auto delay = QRandomGenerator::global()->bounded(20, 400);
        qInfo("attempt %d: killed after %d ms", attempt, delay);
        QThread::msleep(delay);
        saver.kill();
        QVERIFY(saver.waitForFinished());

        TestWindow test(path());
        test.window.Form_Load();
        const QStringList patterns = TestWindow::rows(test.window.lstPattern);
        QVERIFY(!patterns.isEmpty());
        const QString first = patterns.first();
        const int expected = first.startsWith(QStringLiteral("alpha"))  ? 300
                             : first.startsWith(QStringLiteral("beta")) ? 200
                                                                        : 250;
        QCOMPARE(patterns.size(), expected);
        QCOMPARE(patterns.last().section(u' ', 0, 0), first.section(u' ', 0, 0));
        newTablesSeen += expected != 250;
    }
    QVERIFY2(newTablesSeen > 0, "the saver was never killed after a save had finished");
}

QTEST_MAIN(tst_PairStore)
#include "tst_pair_store.moc"
