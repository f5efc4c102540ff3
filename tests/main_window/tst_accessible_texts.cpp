#include "TestFiles.h"
#include "TestWindow.h"
#include "listener/cWinsock.h"

#include <QAccessible>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList patternDescriptions(const frmMain& window)
{
    QStringList descriptions;
    for (int row = 0; row < window.lstPattern->count(); ++row)
        descriptions
            << window.lstPattern->item(row)->data(Qt::AccessibleDescriptionRole).toString();
    return descriptions;
}

} // namespace

// What assistive technology is told beyond the captions; the AT-SPI end-to-end test reads the
// same through the bus, while adding, editing and deleting pairs.
class tst_AccessibleTexts : public QObject {
    Q_OBJECT

private slots:
    void descriptions_followLoadsAndReloads();
    void log_announcesWhatTheUserNeedsToKnow_data();
    void log_announcesWhatTheUserNeedsToKnow();
    void listenButton_tellsStateAndPort();
};

void tst_AccessibleTexts::descriptions_followLoadsAndReloads()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("kormil.ini"));
    putFile(ini, "[pairs]\npattern0=a\ncommand0=cmd a\nfocus0=6\npattern1=b\ncommand1=cmd b\n"
                 "focus1=5\n");
    TestWindow test(ini);
    test.window.Form_Load();
    // Rows are described only while assistive technology is active, which it never is on the
    // offscreen platform until switched on here: the loaded rows get theirs then.
    QCOMPARE(patternDescriptions(test.window), QStringList({QString(), QString()}));
    QAccessible::setActive(true);
    QCOMPARE(patternDescriptions(test.window),
             QStringList({QStringLiteral("runs: cmd a \u2014 window: Minimised, the window you "
                                         "are working in keeps the focus"),
                          QStringLiteral("runs: cmd b \u2014 window: Window style \"5\", none "
                                         "of the six the editor offers")}));

    // A reload replaces the rows of all three lists.
    for (QListWidget* list : {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
        list->clear();
    test.addPair(QStringLiteral("c"), QStringLiteral("cmd c"), QStringLiteral("1"));
    QCOMPARE(patternDescriptions(test.window),
             QStringList({QStringLiteral("runs: cmd c \u2014 window: Normal size, takes the "
                                         "focus")}));
}

void tst_AccessibleTexts::log_announcesWhatTheUserNeedsToKnow_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("announced");

    QTest::newRow("command started") << "Executing: thunderbird" << true;
    QTest::newRow("no match") << "No matching voice string found!" << true;
    QTest::newRow("failed start") << "Could not execute: nosuch (No such file or directory)"
                                  << true;
    QTest::newRow("pair added") << "Added voice command [a] to execute: b" << true;
    QTest::newRow("socket error") << "Restarting (socket state is error)" << true;
    QTest::newRow("stopped") << "Kormil stopped listening" << true;
    QTest::newRow("peer left") << "Restarting (client connetion lost)" << false;
    QTest::newRow("listening") << "Kormil started listening on 10.0.0.1 TCP 2011" << false;
    QTest::newRow("peer came") << "Connection from 127.0.0.1:40000 established" << false;
    QTest::newRow("received") << "Received voice string: open mail" << false;
}

void tst_AccessibleTexts::log_announcesWhatTheUserNeedsToKnow()
{
    QFETCH(QString, message);
    QFETCH(bool, announced);
    TestWindow test{QString()};
    test.window.Log(QStringLiteral("before"));
    test.window.Log(message);
    QCOMPARE(test.window.lstLog->accessibleDescription(),
             announced ? message : QStringLiteral("before"));
}

void tst_AccessibleTexts::listenButton_tellsStateAndPort()
{
    TestWindow test{QString()};
    test.window.Form_Load();
    QCOMPARE(test.window.cmdListen->accessibleDescription(),
             QStringLiteral("Kormil is listening on TCP port %1. Press to stop.")
                 .arg(test.window.wckTCP->LocalPort()));
    test.window.cmdListen_Click();
    QVERIFY(test.window.cmdListen->accessibleDescription().startsWith(
        QStringLiteral("Kormil is not listening.")));
}

QTEST_MAIN(tst_AccessibleTexts)
#include "tst_accessible_texts.moc"
