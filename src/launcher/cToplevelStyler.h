#pragma once

#include "cWindowWatches.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

class cWaylandConnection;
struct wl_array;
struct wl_callback;
struct wl_callback_listener;
struct wl_output;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1_listener;
struct zwlr_foreign_toplevel_handle_v1_listener;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

class cToplevelStyler;

namespace toplevel_styler {
struct Toplevel {
    zwlr_foreign_toplevel_handle_v1* handle;
    cToplevelStyler* styler;
    QString appId;
    bool maximized = false;
    bool minimized = false;
    bool activated = false;
    bool known = false; // announced before, or there before any start was watched
};

struct Watch {
    pid_t program;
    std::int16_t style;
    QString programName;
    Toplevel* previous; // the active window at the start; null: none
    Toplevel* window = nullptr;
    Toplevel* candidate = nullptr; // a new window of another name, taken if no better comes
    QDeadlineTimer handBack;       // while the new window's activation is undone
};
} // namespace toplevel_styler

// Gives the windows of a started program the window style it was started with, on a compositor
// that offers the wlroots toplevel-management protocol (labwc, Wayfire, river, sway …): 0, 2
// and 6 minimised, 3 maximised and activated, 1 activated, and for 4 and 6 the window that was
// active activated again. The protocol tells no process, so the window is guessed (see the
// matching in the source). A while after its requests it reads the window's state as the
// compositor last told it and reports a style that did not take: compositors may ignore any
// of these requests (sway ignores minimise and maximise).
class cToplevelStyler : public QObject, public cWindowWatches<toplevel_styler::Watch> {
    Q_OBJECT

public:
    // Takes a connection whose globals are known and that offers the protocol.
    explicit cToplevelStyler(std::unique_ptr<cWaylandConnection> connection,
                             QObject* parent = nullptr);
    ~cToplevelStyler() override;

    void apply(pid_t program, std::int16_t windowStyle) override;

    // How long after the start a window is looked for.
    static constexpr int kWatchMs = 5000;

private:
    using Toplevel = toplevel_styler::Toplevel;
    using Watch = toplevel_styler::Watch;

    void askSync();
    void startWatching(pid_t program, std::int16_t windowStyle);
    void take(Watch& watch, Toplevel* window);
    void handBackFocus(Watch& watch);
    void check(pid_t program);
    Toplevel* activeToplevel() const;

    static const zwlr_foreign_toplevel_manager_v1_listener managerListener_;
    static const zwlr_foreign_toplevel_handle_v1_listener handleListener_;
    static const wl_callback_listener syncListener_;
    void seeDone(Toplevel* toplevel);
    void forget(Toplevel* toplevel);

    std::unique_ptr<cWaylandConnection> connection_;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_callback* sync_ = nullptr;
    // Watched once sync_ is answered.
    QVector<QPair<pid_t, std::int16_t>> syncing_;
    // Applied while sync_ was out: a sync of their own follows.
    QVector<QPair<pid_t, std::int16_t>> waiting_;
    QVector<Toplevel*> toplevels_;
};
