#pragma once

#include "cWindowStyling.h"

#include <QByteArray>
#include <QObject>
#include <QPair>
#include <QVector>
#include <memory>

class cWaylandConnection;

// What the environment tells about the desktop session Kormil runs in.
struct DesktopSession {
    QByteArray x11Display;     // DISPLAY
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray sessionType;    // XDG_SESSION_TYPE
    QByteArray swaySocket;     // SWAYSOCK

    static DesktopSession fromEnvironment();
    bool isWayland() const { return !waylandDisplay.isEmpty() || sessionType == "wayland"; }
};

// The window styler for the desktop at hand, chosen when a style is first applied: on an X11
// session the X11 one (cWindowStyler); on sway its IPC (cSwayStyler); on another Wayland
// session, once the compositor has told what it offers, the wlroots toplevel protocol
// (cToplevelStyler) where it offers that, on KWin its window management protocol
// (cPlasmaWindowStyler) where it offers that to Kormil, or else a script (cKWinScriptStyler).
// These style native and X11 windows alike.
// Where the compositor offers neither (GNOME, Weston) it says so once and keeps the X11 one,
// which still styles the X11 programs that run on the compositor's X server. Without a Wayland
// session it never connects to a compositor: the default socket may be somebody else's.
class cStylerChoice : public QObject, public cWindowStyling {
    Q_OBJECT

public:
    enum class Backend { Undecided, X11, Sway, Toplevels, PlasmaWindows, KWinScript };

    explicit cStylerChoice(DesktopSession session, QObject* parent = nullptr);
    ~cStylerChoice() override;

    void apply(pid_t program, std::int16_t windowStyle) override;

    Backend backend() const { return backend_; }

private:
    void choose();
    void chooseByGlobals();
    void use(std::unique_ptr<cWindowStyling> styler, Backend backend);
    void dropConnection();

    DesktopSession session_;
    Backend backend_ = Backend::Undecided;
    std::unique_ptr<cWaylandConnection> connection_;
    std::unique_ptr<cWindowStyling> styler_;
    QVector<QPair<pid_t, std::int16_t>> waiting_; // applied before the choice was made
};
