#include "cToplevelStyler.h"

#include "cWaylandConnection.h"
#include "process_session.h"
#include "style_readback.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QTimer>
#include <algorithm>
#include <wayland-client.h>

namespace {

constexpr std::uint32_t kProtocolVersion = 3;
// A new window of another name than the program's is taken only if no better one comes so soon.
constexpr int kBetterNameMs = 300;
// Some compositors activate a new window a moment after announcing it; for 4 and 6 that is
// undone for as long.
constexpr int kHandBackMs = 500;
// Requests are answered through the window's client; the state is read back after this.
constexpr int kSettleMs = 1000;

} // namespace

const zwlr_foreign_toplevel_manager_v1_listener cToplevelStyler::managerListener_ = {
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* styler = static_cast<cToplevelStyler*>(data);
        auto* toplevel = new Toplevel{handle, styler, {}, false, false, false, false};
        styler->toplevels_.append(toplevel);
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener_, toplevel);
    },
    [](void* data, zwlr_foreign_toplevel_manager_v1* manager) {
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        static_cast<cToplevelStyler*>(data)->manager_ = nullptr;
    },
};

const zwlr_foreign_toplevel_handle_v1_listener cToplevelStyler::handleListener_ = {
    [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Toplevel*>(data)->appId = QString::fromUtf8(appId);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->maximized = toplevel->minimized = toplevel->activated = false;
        const auto* state = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
            toplevel->maximized |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED;
            toplevel->minimized |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
            toplevel->activated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->styler->seeDone(toplevel);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->styler->forget(toplevel);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

const wl_callback_listener cToplevelStyler::syncListener_ = {
    [](void* data, wl_callback* callback, std::uint32_t) {
        wl_callback_destroy(callback);
        auto* styler = static_cast<cToplevelStyler*>(data);
        styler->sync_ = nullptr;
        for (const auto& [program, windowStyle] : std::exchange(styler->syncing_, {}))
            styler->startWatching(program, windowStyle);
        if (!styler->waiting_.isEmpty())
            styler->askSync();
    },
};

cToplevelStyler::cToplevelStyler(std::unique_ptr<cWaylandConnection> connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection))
{
    wl_registry* registry = connection_->registry();
    const cWaylandConnection::Global* manager =
        connection_->global(zwlr_foreign_toplevel_manager_v1_interface.name);
    manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, manager->name, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(manager->version, kProtocolVersion)));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &managerListener_, this);
    if (const cWaylandConnection::Global* seat = connection_->global(wl_seat_interface.name))
        seat_ =
            static_cast<wl_seat*>(wl_registry_bind(registry, seat->name, &wl_seat_interface, 1));
    connection_->flush();
    connect(connection_.get(), &cWaylandConnection::lost, this,
            [this] { finishAll(QStringLiteral("the connection to the compositor was lost")); });
}

cToplevelStyler::~cToplevelStyler()
{
    if (sync_)
        wl_callback_destroy(sync_);
    for (Toplevel* toplevel : toplevels_) {
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
        delete toplevel;
    }
    if (seat_)
        wl_seat_destroy(seat_);
    if (manager_)
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    connection_->flush();
}

void cToplevelStyler::apply(pid_t program, std::int16_t windowStyle)
{
    waiting_.append({program, windowStyle});
    if (!sync_)
        askSync();
}

void cToplevelStyler::askSync()
{
    // Answered once every window the compositor had announced by now has been told here: those
    // are there before the start, not new, though they may not have been read yet.
    syncing_ = std::exchange(waiting_, {});
    sync_ = wl_display_sync(connection_->display());
    wl_callback_add_listener(sync_, &syncListener_, this);
    connection_->flush();
}

void cToplevelStyler::startWatching(pid_t program, std::int16_t windowStyle)
{
    watches_.push_back({program, windowStyle, programNameOf(program), activeToplevel(), nullptr,
                        nullptr, QDeadlineTimer()});
    QTimer::singleShot(kWatchMs, this, [this, program] { expire(program, kWatchMs); });
}

// The protocol tells no process, so the window of a start is a guess: the first window that
// appears after it, and of those preferably one whose app_id is the program's file name, which
// is what most toolkits make it. A window that something else opens at the same time, or a
// program that hands its work to one already running, can be mistaken for it.
void cToplevelStyler::seeDone(Toplevel* toplevel)
{
    if (!toplevel->known) {
        Watch* waiting = nullptr;
        for (Watch& watch : watches_) {
            if (watch.window)
                continue;
            if (watch.programName == toplevel->appId) {
                waiting = &watch;
                break;
            }
            if (!waiting && !watch.candidate)
                waiting = &watch;
        }
        if (waiting && waiting->programName == toplevel->appId) {
            take(*waiting, toplevel);
        } else if (waiting) {
            waiting->candidate = toplevel;
            const pid_t program = waiting->program;
            QTimer::singleShot(kBetterNameMs, this, [this, program] {
                if (Watch* watch = watchOf(program); watch && !watch->window && watch->candidate)
                    take(*watch, watch->candidate);
            });
        }
        // Only a window's first announcement makes it new: one that came while no start was
        // watched is not taken for a later start when its title changes.
        toplevel->known = true;
        return;
    }
    for (Watch& watch : watches_) {
        if (watch.window == toplevel && toplevel->activated && !watch.handBack.hasExpired())
            handBackFocus(watch);
    }
}

void cToplevelStyler::take(Watch& watch, Toplevel* window)
{
    window->known = true;
    watch.window = window;
    zwlr_foreign_toplevel_handle_v1* handle = window->handle;
    switch (watch.style) {
    case 0:
    case 2:
    case 6:
        zwlr_foreign_toplevel_handle_v1_set_minimized(handle);
        break;
    case 3:
        zwlr_foreign_toplevel_handle_v1_set_maximized(handle);
        [[fallthrough]];
    case 1:
        if (seat_)
            zwlr_foreign_toplevel_handle_v1_activate(handle, seat_);
        break;
    default:
        break;
    }
    // A minimised window cannot hold the focus anywhere: for 0 and 2 it goes back as for 4.
    if (watch.style != 1 && watch.style != 3) {
        watch.handBack = QDeadlineTimer(kHandBackMs);
        handBackFocus(watch);
    }
    connection_->flush();
    const pid_t program = watch.program;
    QTimer::singleShot(kSettleMs, this, [this, program] { check(program); });
}

void cToplevelStyler::handBackFocus(Watch& watch)
{
    if (watch.previous && seat_) {
        zwlr_foreign_toplevel_handle_v1_activate(watch.previous->handle, seat_);
        connection_->flush();
    }
}

void cToplevelStyler::check(pid_t program)
{
    Watch* watch = watchOf(program);
    if (!watch)
        return;
    const Toplevel& window = *watch->window;
    // The protocol cannot take a window off the task bar: 0 is as minimised as it gets.
    const bool took =
        showsStyle(watch->style, {window.minimized, window.maximized, window.activated, true,
                                  !watch->previous || watch->previous->activated});
    finish(program, took ? QString() : QStringLiteral("the desktop ignored it"));
}

cToplevelStyler::Toplevel* cToplevelStyler::activeToplevel() const
{
    for (Toplevel* toplevel : toplevels_) {
        if (toplevel->activated)
            return toplevel;
    }
    return nullptr;
}

void cToplevelStyler::forget(Toplevel* toplevel)
{
    for (Watch& watch : watches_) {
        if (watch.candidate == toplevel)
            watch.candidate = nullptr;
    }
    forgetWindow(toplevel);
    toplevels_.removeOne(toplevel);
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    delete toplevel;
}
