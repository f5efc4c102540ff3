#include "cWaylandConnection.h"

#include <QSocketNotifier>
#include <algorithm>
#include <wayland-client.h>

const wl_registry_listener cWaylandConnection::registryListener_ = {&onGlobal, &onGlobalRemove};
const wl_callback_listener cWaylandConnection::syncListener_ = {&onSynced};

std::unique_ptr<cWaylandConnection> cWaylandConnection::open(const QByteArray& socket)
{
    wl_display* display = wl_display_connect(socket.isEmpty() ? nullptr : socket.constData());
    if (!display)
        return nullptr;
    return std::unique_ptr<cWaylandConnection>(new cWaylandConnection(display));
}

cWaylandConnection::cWaylandConnection(wl_display* display)
    : display_(display),
      notifier_(new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &cWaylandConnection::read);
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener_, this);
    // Answered after every global has been announced.
    wl_callback_add_listener(wl_display_sync(display_), &syncListener_, this);
    flush();
}

cWaylandConnection::~cWaylandConnection()
{
    if (registry_)
        wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

const cWaylandConnection::Global* cWaylandConnection::global(const char* interface) const
{
    for (const Global& offered : globals_) {
        if (offered.interface == interface)
            return &offered;
    }
    return nullptr;
}

void cWaylandConnection::flush()
{
    wl_display_flush(display_);
}

void cWaylandConnection::read()
{
    // Reads what has arrived and calls the listeners; never waits, since the notifier said there
    // is something to read.
    if (wl_display_dispatch(display_) < 0) {
        notifier_->setEnabled(false);
        emit lost();
        return;
    }
    flush();
}

void cWaylandConnection::onGlobal(void* data, wl_registry*, std::uint32_t name,
                                  const char* interface, std::uint32_t version)
{
    static_cast<cWaylandConnection*>(data)->globals_.append({name, QByteArray(interface), version});
}

void cWaylandConnection::onGlobalRemove(void* data, wl_registry*, std::uint32_t name)
{
    auto& globals = static_cast<cWaylandConnection*>(data)->globals_;
    globals.erase(std::remove_if(globals.begin(), globals.end(),
                                 [name](const Global& offered) { return offered.name == name; }),
                  globals.end());
}

void cWaylandConnection::onSynced(void* data, wl_callback* callback, std::uint32_t)
{
    wl_callback_destroy(callback);
    auto* connection = static_cast<cWaylandConnection*>(data);
    connection->globalsKnown_ = true;
    emit connection->globalsAnnounced();
}
