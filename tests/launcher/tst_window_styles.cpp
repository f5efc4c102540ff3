#include "WestonDisplay.h"
#include "XvfbDisplay.h"
#include "launcher/cShell.h"
#include "launcher/cStylerChoice.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <xcb/xcb.h>

namespace {

// Built twice: for an X server with a full window manager (Xvfb and openbox), and for XWayland
// under Weston, whose window manager knows less and whose compositor offers no way to style
// Wayland windows.
constexpr bool kOnXWayland = KORMIL_ON_XWAYLAND;

// Reads what the window system itself says about windows, as a pager would.
class XWindows {
public:
    bool open()
    {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_))
            return false;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        // Framing and letting go of a window are reported to the root as they happen.
        const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &events);
        xcb_flush(connection_);
        return true;
    }

    // The window of the process that the window manager has framed, whatever it shows now;
    // with `letGo`, only one that it has taken out of its frame again since.
    xcb_window_t framedWindowOf(qint64 pid, bool letGo = false)
    {
        readEvents();
        for (auto framed = frames_.cbegin(); framed != frames_.cend(); ++framed) {
            if (property(framed.key(), "_NET_WM_PID", XCB_ATOM_CARDINAL).value(0) == pid &&
                (!letGo || parentOf(framed.key()) != framed.value()))
                return framed.key();
        }
        return 0;
    }

    xcb_window_t parentOf(xcb_window_t window)
    {
        auto* reply =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        const xcb_window_t parent = reply ? reply->parent : 0;
        free(reply);
        return parent;
    }
    ~XWindows()
    {
        if (connection_)
            xcb_disconnect(connection_);
    }

    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : 0;
        free(reply);
        return value;
    }

    QList<uint32_t> property(xcb_window_t window, const char* name, xcb_atom_t type)
    {
        QList<uint32_t> values;
        auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, atom(name), type, 0, 1024),
            nullptr);
        if (reply) {
            const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            values = QList<uint32_t>(data, data + xcb_get_property_value_length(reply) / 4);
            free(reply);
        }
        return values;
    }

    // The managed top-level window of the process: from the client list, or else (Weston) among
    // the root's children and grandchildren, as long as it is shown.
    xcb_window_t windowOf(qint64 pid)
    {
        return topLevel([&](xcb_window_t window) {
            return property(window, "_NET_WM_PID", XCB_ATOM_CARDINAL).value(0) == pid;
        });
    }
    xcb_window_t windowTitled(const QByteArray& title)
    {
        return topLevel([&](xcb_window_t window) {
            auto* reply =
                xcb_get_property_reply(connection_,
                                       xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME,
                                                        XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                                       nullptr);
            const bool titled =
                reply && QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                                    xcb_get_property_value_length(reply)) == title;
            free(reply);
            return titled;
        });
    }

    template <typename Match> xcb_window_t topLevel(Match matches)
    {
        QList<uint32_t> windows = property(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
        if (kOnXWayland) {
            windows = children(root_);
            for (uint32_t frame : children(root_))
                windows += children(frame);
        }
        for (uint32_t window : windows) {
            if (matches(window) && viewable(window))
                return window;
        }
        return 0;
    }

    QList<uint32_t> children(xcb_window_t window)
    {
        QList<uint32_t> windows;
        auto* reply =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        if (reply) {
            const xcb_window_t* first = xcb_query_tree_children(reply);
            windows = QList<uint32_t>(first, first + xcb_query_tree_children_length(reply));
            free(reply);
        }
        return windows;
    }

    bool managed(xcb_window_t window)
    {
        return property(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW).contains(window);
    }
    xcb_window_t active()
    {
        return property(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW).value(0);
    }
    bool hasState(xcb_window_t window, const char* state)
    {
        return property(window, "_NET_WM_STATE", XCB_ATOM_ATOM).contains(atom(state));
    }
    bool viewable(xcb_window_t window)
    {
        auto* reply = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool result = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        free(reply);
        return result;
    }
    void activate(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2;
        xcb_send_event(connection_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }
    bool hasWindowManager()
    {
        return !property(root_, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW).isEmpty();
    }

private:
    void readEvents()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            // Taken from the root into a frame; where it goes from there the root is not told.
            if ((event->response_type & 0x7f) == XCB_REPARENT_NOTIFY) {
                const auto* moved = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
                if (moved->parent != root_ && !frames_.contains(moved->window))
                    frames_.insert(moved->window, moved->parent);
            }
            free(event);
        }
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    QHash<xcb_window_t, xcb_window_t> frames_; // each framed window's first frame
};

} // namespace

// Each window style on a real X server with a real window manager, checked by the window
// system's own properties.
class tst_WindowStyles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void style_shapesTheStartedWindow_data();
    void style_shapesTheStartedWindow();
    void forkedStarter_theProgramsWindowTakesTheStyle();
    void desktop_saidOnceWhatStylesCanDo();

private:
    XvfbDisplay server_;
    QProcess windowManager_;
    WestonDisplay weston_;
    XWindows x_;
    std::unique_ptr<cShell> shell_;
    QStringList styleLines_;
};

void tst_WindowStyles::initTestCase()
{
    if (kOnXWayland) {
        if (!WestonDisplay::available())
            QSKIP("needs Weston and XWayland (packages weston, xwayland)");
        QVERIFY(weston_.start());
        qputenv("DISPLAY", weston_.name().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb"); // for the programs started from here
        QVERIFY(x_.open());
        qputenv("XDG_RUNTIME_DIR", weston_.runtimeDirectory().toLocal8Bit());
        shell_ = std::make_unique<cShell>(std::make_unique<cStylerChoice>(
            DesktopSession{weston_.name().toLocal8Bit(), QByteArrayLiteral("kormil-test"),
                           QByteArrayLiteral("wayland"), QByteArray()}));
        shell_->setStyleReport([this](const QString& line) { styleLines_ << line; });
        return;
    }
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (!XvfbDisplay::available() || openbox.isEmpty())
        QSKIP("needs Xvfb and openbox (packages xvfb, openbox)");
    QVERIFY(server_.start());
    qputenv("DISPLAY", server_.name().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb"); // for the programs started from here
    windowManager_.start(openbox, {});
    QVERIFY(windowManager_.waitForStarted());
    QVERIFY(x_.open());
    QTRY_VERIFY_WITH_TIMEOUT(x_.hasWindowManager(), 10000);
    shell_ = std::make_unique<cShell>(std::make_unique<cStylerChoice>(DesktopSession{
        server_.name().toLocal8Bit(), QByteArray(), QByteArrayLiteral("x11"), QByteArray()}));
    shell_->setStyleReport([this](const QString& line) { styleLines_ << line; });
}

void tst_WindowStyles::cleanupTestCase()
{
    windowManager_.kill();
    windowManager_.waitForFinished();
}

void tst_WindowStyles::style_shapesTheStartedWindow_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("0 hidden") << 0;
    QTest::newRow("1 normal, focused") << 1;
    QTest::newRow("3 maximised, focused") << 3;
    // Weston's window manager neither iconifies nor says which window is active.
    if (kOnXWayland)
        return;
    QTest::newRow("2 minimised") << 2;
    QTest::newRow("4 normal, focus kept") << 4;
    QTest::newRow("6 minimised, focus kept") << 6;
}

void tst_WindowStyles::style_shapesTheStartedWindow()
{
    QFETCH(int, style);
    const QString client = QStringLiteral(X_CLIENT_EXECUTABLE);

    // A window that has the focus when the command starts.
    const auto holderPid = shell_->Shell(client + QStringLiteral(" holder"), 1);
    xcb_window_t holder = 0;
    QTRY_VERIFY_WITH_TIMEOUT((holder = x_.windowOf(holderPid)) != 0, 10000);
    if (!kOnXWayland)
        QTRY_COMPARE_WITH_TIMEOUT(x_.active(), holder, 10000);

    const auto pid = shell_->Shell(client + QStringLiteral(" styled"), std::int16_t(style));
    xcb_window_t window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = x_.framedWindowOf(pid)) != 0, 10000);
    const auto minimised = [&] { return x_.hasState(window, "_NET_WM_STATE_HIDDEN"); };
    const auto isActive = [&](xcb_window_t expected) {
        return kOnXWayland || x_.active() == expected;
    };
    switch (style) {
    case 0:
        // Openbox takes a withdrawn window out of its frame; Weston's manager only hides it.
        QTRY_VERIFY_WITH_TIMEOUT(
            kOnXWayland ? !x_.viewable(window) : x_.framedWindowOf(pid, true) == window, 10000);
        QVERIFY(!x_.viewable(window));
        break;
    case 1:
        QTRY_VERIFY(x_.viewable(window) && !minimised() && isActive(window));
        break;
    case 2:
        QTRY_VERIFY(minimised());
        break;
    case 3:
        QTRY_VERIFY(x_.hasState(window, "_NET_WM_STATE_MAXIMIZED_VERT") &&
                    x_.hasState(window, "_NET_WM_STATE_MAXIMIZED_HORZ") && isActive(window));
        break;
    case 4:
        QTRY_VERIFY(x_.viewable(window));
        QTRY_COMPARE(x_.active(), holder);
        QVERIFY(!minimised());
        break;
    case 6:
        QTRY_VERIFY(minimised());
        QTRY_COMPARE(x_.active(), holder);
        break;
    }
    ::kill(pid_t(pid), SIGTERM);
    ::kill(pid_t(holderPid), SIGTERM);
    QTRY_VERIFY(x_.windowOf(holderPid) == 0);
}

void tst_WindowStyles::forkedStarter_theProgramsWindowTakesTheStyle()
{
    // The starter is gone before the window appears, so the window's process has no parent
    // left that leads back to what was started.
    shell_->Shell(QStringLiteral("sh -c '(exec %1 forked) &'").arg(X_CLIENT_EXECUTABLE), 3);
    xcb_window_t window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = x_.windowTitled("forked")) != 0, 10000);
    QTRY_VERIFY(x_.hasState(window, "_NET_WM_STATE_MAXIMIZED_VERT") &&
                x_.hasState(window, "_NET_WM_STATE_MAXIMIZED_HORZ"));
    ::kill(pid_t(x_.property(window, "_NET_WM_PID", XCB_ATOM_CARDINAL).value(0)), SIGTERM);
    QTRY_VERIFY(x_.windowTitled("forked") == 0);
}

void tst_WindowStyles::desktop_saidOnceWhatStylesCanDo()
{
    // Every style above took, or could not be seen to fail: the X11 styler says nothing.
    QCOMPARE(styleLines_, kOnXWayland
                              ? QStringList{QStringLiteral(
                                    "Window styles apply to X11 programs only on this desktop")}
                              : QStringList());
}

QTEST_MAIN(tst_WindowStyles)
#include "tst_window_styles.moc"
