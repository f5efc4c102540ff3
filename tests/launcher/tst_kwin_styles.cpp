#include "KWinDisplay.h"
#include "launcher/cKWinScriptStyler.h"
#include "launcher/cShell.h"
#include "launcher/cStylerChoice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTest>
#include <csignal>
#include <unistd.h>

// Each window style on a real KWin, given to a native Wayland window through KWin's window
// management protocol (offered to this test as to an installed Kormil) and through a script, and
// read back from KWin itself; the focus was on another window before each start.
class tst_KWinStyles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void styleIsReadBack_data();
    void styleIsReadBack();
    void script_noWindow_isReported();

private:
    void report(cWindowStyling& styler);
    // The whyNot of the program's style once it is done.
    QString doneWith(pid_t program);
    void end(qint64 pid);

    KWinDisplay kwin_;
    cShell shell_; // starts the programs; the styler is applied here, as cShell does
    std::unique_ptr<cStylerChoice> choice_;
    std::unique_ptr<cKWinScriptStyler> script_;
    QHash<pid_t, QString> done_;
    QStringList notices_;
};

void tst_KWinStyles::initTestCase()
{
    if (!KWinDisplay::available())
        QSKIP("needs KWin (package kwin-wayland) and a session bus (package dbus-daemon)");
    if (const QString why = kwin_.start(QCoreApplication::applicationFilePath()); !why.isEmpty())
        QSKIP(qPrintable(QStringLiteral("KWin cannot run here: ") + why));
    qputenv("XDG_RUNTIME_DIR", kwin_.runtimeDirectory().toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", KWinDisplay::socket().toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", kwin_.busAddress().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "wayland"); // for the programs started from here
    qunsetenv("DISPLAY");
    choice_ = std::make_unique<cStylerChoice>(DesktopSession{
        QByteArray(), KWinDisplay::socket().toLocal8Bit(), QByteArrayLiteral("wayland"), {}});
    report(*choice_);
    // As where KWin does not offer its protocol to Kormil.
    script_ = std::make_unique<cKWinScriptStyler>(QDBusConnection::sessionBus());
    report(*script_);
}

void tst_KWinStyles::report(cWindowStyling& styler)
{
    styler.setReports([this](pid_t program, std::int16_t,
                             const QString& whyNot) { done_.insert(program, whyNot); },
                      [this](const QString& line) { notices_ << line; });
}

QString tst_KWinStyles::doneWith(pid_t program)
{
    if (!QTest::qWaitFor([&] { return done_.contains(program); }, 10000))
        return QStringLiteral("never done");
    return done_.value(program);
}

void tst_KWinStyles::end(qint64 pid)
{
    ::kill(pid_t(pid), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!kwin_.windows().contains(pid), 10000);
}

void tst_KWinStyles::styleIsReadBack_data()
{
    QTest::addColumn<bool>("script");
    QTest::addColumn<int>("style");
    for (const bool script : {false, true}) {
        const char* path = script ? "script" : "protocol";
        // The protocol cannot take a window off the task bar: there 0 is minimised only.
        QTest::addRow("%s: 0 hidden", path) << script << 0;
        QTest::addRow("%s: 1 normal, focused", path) << script << 1;
        QTest::addRow("%s: 2 minimised", path) << script << 2;
        QTest::addRow("%s: 3 maximised, focused", path) << script << 3;
        QTest::addRow("%s: 4 normal, focus kept", path) << script << 4;
        QTest::addRow("%s: 6 minimised, focus kept", path) << script << 6;
    }
}

void tst_KWinStyles::styleIsReadBack()
{
    QFETCH(bool, script);
    QFETCH(int, style);
    const QString client = QStringLiteral(X_CLIENT_EXECUTABLE);

    const auto anchor = shell_.Shell(client + QStringLiteral(" anchor"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(kwin_.windows().value(anchor).active, 10000);
    const auto pid = shell_.Shell(client + QStringLiteral(" styled"), std::int16_t(style));
    if (script)
        script_->apply(pid_t(pid), std::int16_t(style));
    else
        choice_->apply(pid_t(pid), std::int16_t(style));
    QCOMPARE(doneWith(pid_t(pid)), QString());
    QCOMPARE(notices_, QStringList());
    if (script)
        QTRY_VERIFY(
            !kwin_.isScriptLoaded(QStringLiteral("kormil-style-%1-%2").arg(::getpid()).arg(pid)));
    else
        QCOMPARE(choice_->backend(), cStylerChoice::Backend::PlasmaWindows);

    const QHash<qint64, KWinDisplay::Window> windows = kwin_.windows();
    QVERIFY(windows.contains(pid));
    const KWinDisplay::Window styled = windows.value(pid);
    const bool anchorActive = windows.value(anchor).active;
    switch (style) {
    case 0:
        QVERIFY(styled.minimized);
        QCOMPARE(styled.skipTaskbar && styled.skipSwitcher, script);
        QVERIFY(anchorActive);
        break;
    case 1:
        QVERIFY(styled.active && !styled.minimized && !styled.maximized);
        break;
    case 2:
    case 6:
        QVERIFY(styled.minimized && !styled.skipTaskbar);
        QVERIFY(anchorActive);
        break;
    case 3:
        QVERIFY(styled.maximized && styled.active);
        break;
    case 4:
        QVERIFY(!styled.minimized && !styled.active);
        QVERIFY(anchorActive);
        break;
    }
    end(pid);
    end(anchor);
}

void tst_KWinStyles::script_noWindow_isReported()
{
    const auto pid = shell_.Shell(QStringLiteral("sleep 30"), 1);
    script_->apply(pid_t(pid), 1);
    QCOMPARE(doneWith(pid_t(pid)), QStringLiteral("no window appeared within 5 seconds"));
    QTRY_VERIFY(
        !kwin_.isScriptLoaded(QStringLiteral("kormil-style-%1-%2").arg(::getpid()).arg(pid)));
    ::kill(pid_t(pid), SIGTERM);
}

QTEST_GUILESS_MAIN(tst_KWinStyles)
#include "tst_kwin_styles.moc"
