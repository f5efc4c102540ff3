#include "cPlasmaWindowStyler.h"

#include "cWaylandConnection.h"
#include "plasma-window-management-client-protocol.h"
#include "process_session.h"
#include "style_readback.h"

#include <QTimer>
#include <algorithm>
#include <cstring>
#include <wayland-client.h>

namespace {

// Windows are asked for by the number the "window" event gives; later versions announce them
// twice, the second time by a uuid.
constexpr std::uint32_t kProtocolVersion = 12;
// KWin activates a new window a few milliseconds after announcing it; for every style but 1 and
// 3 that is undone for as long.
constexpr int kHandBackMs = 500;
// Requests are answered through the window's client; the state is read back after this.
constexpr int kSettleMs = 1000;

constexpr std::uint32_t kActive = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
constexpr std::uint32_t kMinimized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
constexpr std::uint32_t kMaximized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MAXIMIZED;

bool named(const wl_message* message, const char* name)
{
    return std::strcmp(message->name, name) == 0;
}

} // namespace

const wl_callback_listener cPlasmaWindowStyler::syncListener_ = {
    [](void* data, wl_callback* callback, std::uint32_t) {
        wl_callback_destroy(callback);
        auto* styler = static_cast<cPlasmaWindowStyler*>(data);
        styler->ready_ = true;
        // Started from the event loop: the connection is still reading here.
        QTimer::singleShot(0, styler, [styler] {
            for (const auto& [program, windowStyle] : std::exchange(styler->waiting_, {}))
                styler->startWatching(program, windowStyle);
        });
    },
};

cPlasmaWindowStyler::cPlasmaWindowStyler(std::unique_ptr<cWaylandConnection> connection,
                                         QObject* parent)
    : QObject(parent), connection_(std::move(connection))
{
    const cWaylandConnection::Global* manager =
        connection_->global(org_kde_plasma_window_management_interface.name);
    manager_ = static_cast<org_kde_plasma_window_management*>(wl_registry_bind(
        connection_->registry(), manager->name, &org_kde_plasma_window_management_interface,
        std::min(manager->version, kProtocolVersion)));
    wl_proxy_add_dispatcher(reinterpret_cast<wl_proxy*>(manager_), &onManager, nullptr, this);
    // Answered once every window there is now has been announced.
    wl_callback_add_listener(wl_display_sync(connection_->display()), &syncListener_, this);
    connection_->flush();
    connect(connection_.get(), &cWaylandConnection::lost, this,
            [this] { finishAll(QStringLiteral("the connection to the compositor was lost")); });
}

cPlasmaWindowStyler::~cPlasmaWindowStyler()
{
    for (Window* window : windows_) {
        org_kde_plasma_window_destroy(window->handle);
        delete window;
    }
    if (manager_)
        org_kde_plasma_window_management_destroy(manager_);
    connection_->flush();
}

// Every event goes through one function, by its name, so that events of later versions need no
// handler of their own.
int cPlasmaWindowStyler::onManager(const void*, void* proxy, std::uint32_t,
                                   const wl_message* message, wl_argument* arguments)
{
    auto* styler =
        static_cast<cPlasmaWindowStyler*>(wl_proxy_get_user_data(static_cast<wl_proxy*>(proxy)));
    if (!named(message, "window"))
        return 0;
    // Announced before the styler was ready: there before any start.
    auto* window =
        new Window{org_kde_plasma_window_management_get_window(styler->manager_, arguments[0].u),
                   styler, !styler->ready_};
    styler->windows_.append(window);
    wl_proxy_add_dispatcher(reinterpret_cast<wl_proxy*>(window->handle), &onWindow, nullptr,
                            window);
    styler->connection_->flush();
    return 0;
}

int cPlasmaWindowStyler::onWindow(const void*, void* proxy, std::uint32_t,
                                  const wl_message* message, wl_argument* arguments)
{
    auto* window = static_cast<Window*>(wl_proxy_get_user_data(static_cast<wl_proxy*>(proxy)));
    cPlasmaWindowStyler* styler = window->styler;
    if (named(message, "pid_changed")) {
        window->process = pid_t(arguments[0].u);
    } else if (named(message, "state_changed")) {
        window->state = arguments[0].u;
        if (window->told)
            styler->seeChange(window);
    } else if (named(message, "initial_state")) {
        window->told = true;
        if (!window->known)
            styler->seeNew(window);
    } else if (named(message, "unmapped")) {
        styler->forget(window);
    }
    return 0;
}

void cPlasmaWindowStyler::apply(pid_t program, std::int16_t windowStyle)
{
    if (ready_)
        startWatching(program, windowStyle);
    else
        waiting_.append({program, windowStyle});
}

void cPlasmaWindowStyler::startWatching(pid_t program, std::int16_t windowStyle)
{
    watches_.push_back({program, windowStyle, activeWindow(), nullptr, QDeadlineTimer()});
    QTimer::singleShot(kWatchMs, this, [this, program] { expire(program, kWatchMs); });
}

void cPlasmaWindowStyler::seeNew(Window* window)
{
    const pid_t session = sessionOf(window->process);
    Watch* watch = watchOf(session);
    if (session <= 0 || !watch || watch->window)
        return;
    take(*watch, window);
}

void cPlasmaWindowStyler::seeChange(Window* window)
{
    for (const Watch& watch : watches_) {
        if (watch.window == window && (window->state & kActive) && !watch.handBack.hasExpired())
            handBackFocus(watch);
    }
}

void cPlasmaWindowStyler::take(Watch& watch, Window* window)
{
    window->known = true;
    watch.window = window;
    switch (watch.style) {
    case 0:
    case 2:
    case 6:
        org_kde_plasma_window_set_state(window->handle, kMinimized, kMinimized);
        break;
    case 1:
        org_kde_plasma_window_set_state(window->handle, kActive, kActive);
        break;
    case 3:
        org_kde_plasma_window_set_state(window->handle, kMaximized | kActive, kMaximized | kActive);
        break;
    default:
        break;
    }
    // A minimised window cannot hold the focus: for 0 and 2 it goes back as for 4 and 6.
    if (watch.style != 1 && watch.style != 3) {
        watch.handBack = QDeadlineTimer(kHandBackMs);
        handBackFocus(watch);
    }
    connection_->flush();
    const pid_t program = watch.program;
    QTimer::singleShot(kSettleMs, this, [this, program] { check(program); });
}

void cPlasmaWindowStyler::handBackFocus(const Watch& watch)
{
    if (watch.previous) {
        org_kde_plasma_window_set_state(watch.previous->handle, kActive, kActive);
        connection_->flush();
    }
}

void cPlasmaWindowStyler::check(pid_t program)
{
    Watch* watch = watchOf(program);
    if (!watch)
        return;
    const std::uint32_t state = watch->window->state;
    // The protocol cannot take a window off the task bar: 0 is as minimised as it gets.
    const bool took = showsStyle(
        watch->style, {bool(state & kMinimized), bool(state & kMaximized), bool(state & kActive),
                       true, !watch->previous || (watch->previous->state & kActive)});
    finish(program, took ? QString() : QStringLiteral("the desktop ignored it"));
}

cPlasmaWindowStyler::Window* cPlasmaWindowStyler::activeWindow() const
{
    for (Window* window : windows_) {
        if (window->state & kActive)
            return window;
    }
    return nullptr;
}

void cPlasmaWindowStyler::forget(Window* window)
{
    forgetWindow(window);
    windows_.removeOne(window);
    org_kde_plasma_window_destroy(window->handle);
    delete window;
}
