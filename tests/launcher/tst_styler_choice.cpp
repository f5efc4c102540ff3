#include "WestonDisplay.h"
#include "launcher/cStylerChoice.h"

#include <QStringList>
#include <QTest>
#include <unistd.h>

// Which styler is taken in which session, against a real compositor that offers nothing to style
// windows with (Weston), listening on the socket a client reaches when it names none.
class tst_StylerChoice : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void session_choosesTheStylerAndSaysSoOnce_data();
    void session_choosesTheStylerAndSaysSoOnce();

private:
    WestonDisplay weston_;
};

void tst_StylerChoice::initTestCase()
{
    if (!WestonDisplay::available())
        QSKIP("needs Weston (package weston)");
    QVERIFY(weston_.start(QStringLiteral("wayland-0"), false));
    qputenv("XDG_RUNTIME_DIR", weston_.runtimeDirectory().toLocal8Bit());
    qunsetenv("WAYLAND_DISPLAY");
}

void tst_StylerChoice::session_choosesTheStylerAndSaysSoOnce_data()
{
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<QByteArray>("sessionType");
    QTest::addColumn<int>("notices");
    // A compositor that is not the session's own is never asked.
    QTest::newRow("X11 session") << QByteArray() << QByteArrayLiteral("x11") << 0;
    QTest::newRow("no session type") << QByteArray() << QByteArray() << 0;
    QTest::newRow("WAYLAND_DISPLAY") << QByteArrayLiteral("wayland-0") << QByteArray() << 1;
    QTest::newRow("Wayland session, default socket")
        << QByteArray() << QByteArrayLiteral("wayland") << 1;
    QTest::newRow("Wayland session, no compositor")
        << QByteArrayLiteral("kormil-none") << QByteArrayLiteral("wayland") << 0;
}

void tst_StylerChoice::session_choosesTheStylerAndSaysSoOnce()
{
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(QByteArray, sessionType);
    QFETCH(int, notices);

    cStylerChoice choice({QByteArray(), waylandDisplay, sessionType, QByteArray()});
    QStringList lines;
    int done = 0;
    choice.setReports([&](pid_t, std::int16_t, const QString&) { ++done; },
                      [&](const QString& line) { lines << line; });
    choice.apply(::getpid(), 1);
    choice.apply(::getpid(), 4);
    QTRY_COMPARE(done, 2);
    QCOMPARE(choice.backend(), cStylerChoice::Backend::X11);
    QCOMPARE(lines,
             QStringList(notices, QStringLiteral("Window styles apply to X11 programs only on this "
                                                 "desktop")));
}

QTEST_MAIN(tst_StylerChoice)
#include "tst_styler_choice.moc"
