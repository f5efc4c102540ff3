#include "SwayDisplay.h"
#include "launcher/cShell.h"
#include "launcher/cStylerChoice.h"

#include <QProcess>
#include <QTest>
#include <csignal>

namespace {

struct Styled {
    pid_t program;
    QString whyNot;
};

// Passes every style on to the styler for the desktop and notes when each is done.
class WatchedStyler : public cWindowStyling {
public:
    WatchedStyler(DesktopSession session, QList<Styled>& done)
        : inner_(std::move(session)), done_(done)
    {
        inner_.setReports(
            [this](pid_t program, std::int16_t style, const QString& whyNot) {
                done_.append({program, whyNot});
                reportDone(program, style, whyNot);
            },
            [this](const QString& line) { reportNotice(line); });
    }
    void apply(pid_t program, std::int16_t windowStyle) override
    {
        inner_.apply(program, windowStyle);
    }
    cStylerChoice::Backend backend() const { return inner_.backend(); }

private:
    cStylerChoice inner_;
    QList<Styled>& done_;
};

} // namespace

// Each window style on a real sway, given to a native Wayland window and read back from sway's
// own tree; the focus was on another window before each start.
class tst_WaylandStyles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void swayIpc_styleIsReadBack_data();
    void swayIpc_styleIsReadBack();
    void swayIpc_noWindow_isReported();
    void toplevels_styleIsReadBack_data();
    void toplevels_styleIsReadBack();
    void toplevels_windowThereBeforeTheStart_isNotTaken();

private:
    // The whyNot of the program's style once it is done.
    QString doneWith(pid_t program);
    void end(qint64 pid);

    SwayDisplay sway_;
    QList<Styled> done_;
    QStringList lines_;
    WatchedStyler* ipcStyler_ = nullptr;
    std::unique_ptr<cShell> ipc_;
    // The same sway through the wlroots toplevel protocol, as if SWAYSOCK were not set.
    WatchedStyler* toplevelStyler_ = nullptr;
    std::unique_ptr<cShell> toplevels_;
};

void tst_WaylandStyles::initTestCase()
{
    if (!SwayDisplay::available())
        QSKIP("needs sway (package sway)");
    if (const QString why = sway_.start(); !why.isEmpty())
        QSKIP(qPrintable(QStringLiteral("sway cannot run here: ") + why));
    qputenv("XDG_RUNTIME_DIR", sway_.runtimeDirectory().toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", sway_.waylandDisplay().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "wayland"); // for the programs started from here
    qunsetenv("DISPLAY");
    auto styler = std::make_unique<WatchedStyler>(
        DesktopSession{QByteArray(), sway_.waylandDisplay().toLocal8Bit(),
                       QByteArrayLiteral("wayland"), sway_.ipcSocket().toLocal8Bit()},
        done_);
    ipcStyler_ = styler.get();
    ipc_ = std::make_unique<cShell>(std::move(styler));
    ipc_->setStyleReport([this](const QString& line) { lines_ << line; });
    styler = std::make_unique<WatchedStyler>(
        DesktopSession{QByteArray(), sway_.waylandDisplay().toLocal8Bit(),
                       QByteArrayLiteral("wayland"), QByteArray()},
        done_);
    toplevelStyler_ = styler.get();
    toplevels_ = std::make_unique<cShell>(std::move(styler));
    toplevels_->setStyleReport([this](const QString& line) { lines_ << line; });
}

QString tst_WaylandStyles::doneWith(pid_t program)
{
    const auto find = [&] {
        return std::find_if(done_.cbegin(), done_.cend(),
                            [&](const Styled& done) { return done.program == program; });
    };
    if (!QTest::qWaitFor([&] { return find() != done_.cend(); }, 10000))
        return QStringLiteral("never done");
    return find()->whyNot;
}

void tst_WaylandStyles::end(qint64 pid)
{
    ::kill(pid_t(pid), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!sway_.windows().contains(pid), 10000);
}

void tst_WaylandStyles::swayIpc_styleIsReadBack_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("0 hidden: scratchpad") << 0;
    QTest::newRow("1 normal, focused") << 1;
    QTest::newRow("2 minimised: scratchpad") << 2;
    QTest::newRow("3 maximised: fullscreen") << 3;
    QTest::newRow("4 normal, focus kept") << 4;
    QTest::newRow("6 minimised: scratchpad, focus kept") << 6;
}

void tst_WaylandStyles::swayIpc_styleIsReadBack()
{
    QFETCH(int, style);
    const QString client = QStringLiteral(X_CLIENT_EXECUTABLE);
    lines_.clear();

    const auto anchor = ipc_->Shell(client + QStringLiteral(" anchor"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sway_.windows().value(anchor).focused, 10000);
    const auto pid = ipc_->Shell(client + QStringLiteral(" styled"), std::int16_t(style));
    QCOMPARE(doneWith(pid_t(pid)), QString());
    QCOMPARE(ipcStyler_->backend(), cStylerChoice::Backend::Sway);

    const QHash<qint64, SwayDisplay::Window> windows = sway_.windows();
    QVERIFY(windows.contains(pid));
    const SwayDisplay::Window styled = windows.value(pid);
    const bool anchorFocused = windows.value(anchor).focused;
    switch (style) {
    case 0:
    case 2:
    case 6:
        QVERIFY(styled.inScratchpad && !styled.visible);
        QVERIFY(anchorFocused);
        break;
    case 1:
        QVERIFY(styled.visible && styled.focused);
        break;
    case 3:
        QVERIFY(styled.fullscreen && styled.focused);
        break;
    case 4:
        QVERIFY(styled.visible && !styled.focused && !styled.inScratchpad);
        QVERIFY(anchorFocused);
        break;
    }
    QCOMPARE(lines_, QStringList());
    end(pid);
    end(anchor);
}

void tst_WaylandStyles::swayIpc_noWindow_isReported()
{
    const auto pid = ipc_->Shell(QStringLiteral("sleep 30"), 1);
    QCOMPARE(doneWith(pid_t(pid)), QStringLiteral("no window appeared within 5 seconds"));
    QCOMPARE(lines_, QStringList{QStringLiteral("Window style 1 was not applied: no window "
                                                "appeared within 5 seconds (command: sleep 30)")});
    ::kill(pid_t(pid), SIGTERM);
}

void tst_WaylandStyles::toplevels_styleIsReadBack_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("whyNot");
    QTest::newRow("1 normal, focused") << 1 << QString();
    QTest::newRow("4 normal, focus kept") << 4 << QString();
    // sway ignores maximise requests through this protocol; the readback says so.
    QTest::newRow("3 maximised: ignored") << 3 << QStringLiteral("the desktop ignored it");
}

void tst_WaylandStyles::toplevels_styleIsReadBack()
{
    QFETCH(int, style);
    QFETCH(QString, whyNot);
    const QString client = QStringLiteral(X_CLIENT_EXECUTABLE);
    lines_.clear();

    const auto anchor = toplevels_->Shell(client + QStringLiteral(" anchor"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sway_.windows().value(anchor).focused, 10000);
    QCOMPARE(doneWith(pid_t(anchor)), QString());
    const QString command = client + QStringLiteral(" styled");
    const auto pid = toplevels_->Shell(command, std::int16_t(style));
    QCOMPARE(doneWith(pid_t(pid)), whyNot);
    QCOMPARE(toplevelStyler_->backend(), cStylerChoice::Backend::Toplevels);

    const QHash<qint64, SwayDisplay::Window> windows = sway_.windows();
    QVERIFY(windows.contains(pid));
    switch (style) {
    case 1:
        QVERIFY(windows.value(pid).focused);
        break;
    case 4:
        QVERIFY(windows.value(pid).visible && !windows.value(pid).focused);
        QVERIFY(windows.value(anchor).focused);
        break;
    case 3:
        QVERIFY(!windows.value(pid).fullscreen);
        break;
    }
    QCOMPARE(lines_, whyNot.isEmpty()
                         ? QStringList()
                         : QStringList{QStringLiteral("Window style 3 was not applied: the desktop "
                                                      "ignored it (command: %1)")
                                           .arg(command)});
    end(pid);
    end(anchor);
}

void tst_WaylandStyles::toplevels_windowThereBeforeTheStart_isNotTaken()
{
    // Opened while nothing was started; its title changes after the start.
    QProcess bystander;
    bystander.start(QStringLiteral(X_CLIENT_EXECUTABLE),
                    {QStringLiteral("bystander"), QStringLiteral("renamed")});
    QTRY_VERIFY_WITH_TIMEOUT(sway_.windows().contains(bystander.processId()), 10000);
    const auto pid = toplevels_->Shell(QStringLiteral("sleep 30"), 3);
    QCOMPARE(doneWith(pid_t(pid)), QStringLiteral("no window appeared within 5 seconds"));
    ::kill(pid_t(pid), SIGTERM);
    end(bystander.processId());
    bystander.waitForFinished();
}

QTEST_GUILESS_MAIN(tst_WaylandStyles)
#include "tst_wayland_styles.moc"
