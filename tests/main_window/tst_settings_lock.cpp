#include "FakeMessageBox.h"
#include "TestFiles.h"
#include "main_window/cSettingsLock.h"
#include "main_window/cShutdownSignals.h"

#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

// One running copy per settings file.
class tst_SettingsLock : public QObject {
    Q_OBJECT

private slots:
    void take_data();
    void take();
};

void tst_SettingsLock::take_data()
{
    QTest::addColumn<QString>("before"); // what holds a lock when the copy starts
    QTest::addColumn<QString>("file");   // the copy's settings file
    QTest::addColumn<bool>("taken");
    QTest::newRow("another copy on the same file") << "running copy"
                                                   << "kormil.ini" << false;
    QTest::newRow("another copy on a file of its own") << "running copy"
                                                       << "other.ini" << true;
    QTest::newRow("the lock of a copy that died") << "dead copy"
                                                  << "kormil.ini" << true;
}

void tst_SettingsLock::take()
{
    QFETCH(QString, before);
    QFETCH(QString, file);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("kormil.ini"));
    cShutdownSignals shutdown;
    FakeMessageBox messages;
    std::optional<cSettingsLock> running;
    if (before == QLatin1String("running copy")) {
        running.emplace(first);
        QVERIFY(running->take(messages, shutdown));
    } else {
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        QVERIFY(gone.waitForStarted());
        const QByteArray pid = QByteArray::number(gone.processId());
        QVERIFY(gone.waitForFinished());
        putFile(first + QStringLiteral(".lock"),
                pid + "\nkormil\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    }

    const QString path = dir.filePath(file);
    cSettingsLock copy(path);
    QCOMPARE(copy.take(messages, shutdown), taken);
    QVERIFY(copy.problem().isEmpty());
    QCOMPARE(messages.shown.size(), taken ? 0 : 1);
    if (!taken) {
        QCOMPARE(messages.shown[0].title, QStringLiteral("Kormil"));
        QVERIFY(messages.shown[0].text.contains(path));
        QVERIFY(!QFile::exists(path));
    }
}

QTEST_MAIN(tst_SettingsLock)
#include "tst_settings_lock.moc"
