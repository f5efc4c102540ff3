#pragma once

#include "cWindowWatches.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QVector>
#include <memory>

class cWaylandConnection;
struct org_kde_plasma_window;
struct org_kde_plasma_window_management;
union wl_argument;
struct wl_callback;
struct wl_callback_listener;
struct wl_message;

// Gives the windows of a started program the window style it was started with, on KWin, through
// its window management protocol, which KWin offers only to a program that an installed desktop
// entry names with X-KDE-Wayland-Interfaces. It takes the first window within a few seconds
// whose process belongs to the session the program leads: 0, 2 and 6 minimised (there is no
// hidden window; the protocol does not take a window off the task bar), 3 maximised and active,
// 1 active, and for every style but 1 and 3 the window that was active is activated again. It
// reads the window's state back as KWin last told it and reports a style that did not take.
class cPlasmaWindowStyler;

namespace plasma_styler {
struct Window {
    org_kde_plasma_window* handle;
    cPlasmaWindowStyler* styler;
    bool known;        // there before a start was watched, or already taken
    bool told = false; // its initial state has all been told
    pid_t process = 0;
    std::uint32_t state = 0;
};
struct Watch {
    pid_t program;
    std::int16_t style;
    Window* previous; // the active window at the start; null: none
    Window* window = nullptr;
    QDeadlineTimer handBack; // while the window's activation is undone
};
} // namespace plasma_styler

class cPlasmaWindowStyler : public QObject, public cWindowWatches<plasma_styler::Watch> {
    Q_OBJECT

public:
    // Takes a connection whose globals are known and that offers the protocol.
    explicit cPlasmaWindowStyler(std::unique_ptr<cWaylandConnection> connection,
                                 QObject* parent = nullptr);
    ~cPlasmaWindowStyler() override;

    void apply(pid_t program, std::int16_t windowStyle) override;

    // How long after the start a window is looked for.
    static constexpr int kWatchMs = 5000;

private:
    using Window = plasma_styler::Window;
    using Watch = plasma_styler::Watch;

    static int onManager(const void*, void* proxy, std::uint32_t, const wl_message* message,
                         wl_argument* arguments);
    static int onWindow(const void*, void* proxy, std::uint32_t, const wl_message* message,
                        wl_argument* arguments);
    static const wl_callback_listener syncListener_;
    void startWatching(pid_t program, std::int16_t windowStyle);
    void seeNew(Window* window);
    void seeChange(Window* window);
    void take(Watch& watch, Window* window);
    void handBackFocus(const Watch& watch);
    void check(pid_t program);
    void forget(Window* window);
    Window* activeWindow() const;

    std::unique_ptr<cWaylandConnection> connection_;
    org_kde_plasma_window_management* manager_ = nullptr;
    bool ready_ = false; // the windows that were there before have all been announced
    QVector<Window*> windows_;
    QVector<QPair<pid_t, std::int16_t>> waiting_;
};
