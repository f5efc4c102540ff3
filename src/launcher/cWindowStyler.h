#pragma once

#include "cWindowStyling.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QVector>
#include <cstdint>
#include <sys/types.h>

struct xcb_connection_t;
class QTimer;

// Gives the windows of a started program the window style it was started with, on an X11
// desktop with an EWMH window manager. For a few seconds after the start it looks for new
// top-level windows whose _NET_WM_PID is a process of the session the program leads, and asks the
// window manager to hide, iconify, maximise or activate them; for styles 4 and 6 the window that
// was active before keeps the focus. It connects to the given X display when a style is first
// applied; without one (pure Wayland, no display) a style is accepted and has no effect.
class cWindowStyler : public QObject, public cWindowStyling {
    Q_OBJECT

public:
    // `display` names the X display as DISPLAY does; empty: none.
    explicit cWindowStyler(QByteArray display, QObject* parent = nullptr);
    ~cWindowStyler() override;

    void apply(pid_t program, std::int16_t windowStyle) override;

    // How long after the start windows are looked for.
    static constexpr int kWatchMs = 5000;

private:
    struct Watch {
        pid_t program;
        std::int16_t style;
        std::uint32_t previouslyActive;
        QSet<std::uint32_t> before; // windows that existed at the start: never styled
        QDeadlineTimer deadline;
    };

    bool connected();
    void poll();
    void style(std::uint32_t window, const Watch& watch);
    std::uint32_t atom(const char* name);
    // A property of 32-bit items (windows, atoms, numbers); empty when it is missing.
    QVector<std::uint32_t> property(std::uint32_t window, const char* name, std::uint32_t type);
    QVector<std::uint32_t> clientList();
    QVector<std::uint32_t> framedWindows();
    bool shown(std::uint32_t window);
    std::uint32_t activeWindow();
    // The process that says it owns the window; 0 or less when none says so.
    pid_t windowPid(std::uint32_t window);
    void sendToRoot(std::uint32_t window, std::uint32_t type, std::uint32_t d0, std::uint32_t d1,
                    std::uint32_t d2);
    void sendToWindowManager(const void* event, std::size_t size);

    QByteArray display_;
    xcb_connection_t* connection_ = nullptr;
    bool triedToConnect_ = false;
    std::uint32_t root_ = 0;
    QHash<QByteArray, std::uint32_t> atoms_;
    bool hasClientList_ = false;
    QVector<Watch> watches_;
    QTimer* timer_;
};
