#include "cWindowStyler.h"

#include "process_session.h"

#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

constexpr int kPollMs = 50;
constexpr std::uint32_t kIconicState = 3;
constexpr std::uint32_t kAddState = 1;
constexpr std::uint32_t kFromPager = 2;

constexpr std::uint32_t kToWindowManager =
    XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

} // namespace

cWindowStyler::cWindowStyler(QByteArray display, QObject* parent)
    : QObject(parent), display_(std::move(display)), timer_(new QTimer(this))
{
    timer_->setInterval(kPollMs);
    connect(timer_, &QTimer::timeout, this, &cWindowStyler::poll);
}

cWindowStyler::~cWindowStyler()
{
    if (connection_)
        xcb_disconnect(connection_);
}

bool cWindowStyler::connected()
{
    if (!triedToConnect_) {
        triedToConnect_ = true;
        if (!display_.isEmpty()) {
            connection_ = xcb_connect(display_.constData(), nullptr);
            if (xcb_connection_has_error(connection_)) {
                xcb_disconnect(connection_);
                connection_ = nullptr;
            } else {
                root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
            }
        }
    }
    return connection_ != nullptr;
}

void cWindowStyler::apply(pid_t program, std::int16_t windowStyle)
{
    if (!connected()) {
        reportDone(program, windowStyle);
        return;
    }
    hasClientList_ =
        property(root_, "_NET_SUPPORTED", XCB_ATOM_ATOM).contains(atom("_NET_CLIENT_LIST"));
    const QVector<std::uint32_t> existing = clientList();
    watches_.append({program, windowStyle, activeWindow(),
                     QSet<std::uint32_t>(existing.begin(), existing.end()),
                     QDeadlineTimer(kWatchMs)});
    timer_->start();
}

void cWindowStyler::poll()
{
    const QVector<std::uint32_t> windows = clientList();
    for (Watch& watch : watches_) {
        for (std::uint32_t window : windows) {
            if (watch.before.contains(window))
                continue;
            const pid_t owner = windowPid(window);
            // Without a client list the window is seen as soon as it is framed; unmapped before
            // the manager maps it, it would be mapped all the same. Wait until it shows.
            if (owner > 0 && sessionOf(owner) == watch.program &&
                (hasClientList_ || shown(window))) {
                watch.before.insert(window);
                style(window, watch);
            }
        }
    }
    const auto over = std::stable_partition(
        watches_.begin(), watches_.end(), [](const Watch& w) { return !w.deadline.hasExpired(); });
    for (auto watch = over; watch != watches_.end(); ++watch)
        reportDone(watch->program, watch->style);
    watches_.erase(over, watches_.end());
    if (watches_.isEmpty())
        timer_->stop();
    xcb_flush(connection_);
}

void cWindowStyler::style(std::uint32_t window, const Watch& watch)
{
    const std::uint32_t activate = atom("_NET_ACTIVE_WINDOW");
    switch (watch.style) {
    case 0: {
        // Withdrawn, as the ICCCM asks: unmap, then tell the window manager.
        xcb_unmap_window(connection_, window);
        xcb_unmap_notify_event_t unmap{};
        unmap.response_type = XCB_UNMAP_NOTIFY;
        unmap.event = root_;
        unmap.window = window;
        sendToWindowManager(&unmap, sizeof unmap);
        break;
    }
    case 1:
        sendToRoot(window, activate, kFromPager, XCB_CURRENT_TIME, 0);
        break;
    case 2:
    case 6:
        sendToRoot(window, atom("WM_CHANGE_STATE"), kIconicState, 0, 0);
        break;
    case 3:
        sendToRoot(window, atom("_NET_WM_STATE"), kAddState, atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                   atom("_NET_WM_STATE_MAXIMIZED_HORZ"));
        sendToRoot(window, activate, kFromPager, XCB_CURRENT_TIME, 0);
        break;
    default:
        break;
    }
    if ((watch.style == 4 || watch.style == 6) && watch.previouslyActive != 0)
        sendToRoot(watch.previouslyActive, activate, kFromPager, XCB_CURRENT_TIME, 0);
}

std::uint32_t cWindowStyler::atom(const char* name)
{
    const QByteArray key(name);
    if (const auto found = atoms_.constFind(key); found != atoms_.cend())
        return *found;
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(key.size()), name),
        nullptr);
    const std::uint32_t value = reply ? reply->atom : 0;
    std::free(reply);
    atoms_.insert(key, value);
    return value;
}

QVector<std::uint32_t> cWindowStyler::property(std::uint32_t window, const char* name,
                                               std::uint32_t type)
{
    QVector<std::uint32_t> values;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom(name), type, 0, 4096), nullptr);
    if (reply) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values = QVector<std::uint32_t>(data, data + xcb_get_property_value_length(reply) / 4);
        std::free(reply);
    }
    return values;
}

QVector<std::uint32_t> cWindowStyler::clientList()
{
    if (hasClientList_)
        return property(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
    return framedWindows();
}

// A window manager without a client list (Weston's, for XWayland) still keeps each top-level
// window as a child of the root or of a frame that is one.
QVector<std::uint32_t> cWindowStyler::framedWindows()
{
    const auto children = [this](std::uint32_t parent) {
        return xcb_query_tree(connection_, parent);
    };
    const auto collect = [this](xcb_query_tree_cookie_t cookie, QVector<std::uint32_t>& into) {
        xcb_query_tree_reply_t* reply = xcb_query_tree_reply(connection_, cookie, nullptr);
        if (!reply)
            return;
        const xcb_window_t* windows = xcb_query_tree_children(reply);
        into.append(
            QVector<std::uint32_t>(windows, windows + xcb_query_tree_children_length(reply)));
        std::free(reply);
    };
    QVector<std::uint32_t> windows;
    collect(children(root_), windows);
    QVector<xcb_query_tree_cookie_t> cookies;
    for (std::uint32_t window : windows)
        cookies.append(children(window));
    for (xcb_query_tree_cookie_t cookie : cookies)
        collect(cookie, windows);
    return windows;
}

bool cWindowStyler::shown(std::uint32_t window)
{
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

std::uint32_t cWindowStyler::activeWindow()
{
    return property(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW).value(0);
}

pid_t cWindowStyler::windowPid(std::uint32_t window)
{
    // Beyond the range of process ids it turns negative, which no process has.
    return static_cast<pid_t>(property(window, "_NET_WM_PID", XCB_ATOM_CARDINAL).value(0));
}

void cWindowStyler::sendToRoot(std::uint32_t window, std::uint32_t type, std::uint32_t d0,
                               std::uint32_t d1, std::uint32_t d2)
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    message.data.data32[0] = d0;
    message.data.data32[1] = d1;
    message.data.data32[2] = d2;
    sendToWindowManager(&message, sizeof message);
}

void cWindowStyler::sendToWindowManager(const void* event, std::size_t size)
{
    // The server takes 32 bytes whatever the event's own size: never send what lies beyond it.
    char wire[32] = {};
    std::memcpy(wire, event, std::min(size, sizeof wire));
    xcb_send_event(connection_, 0, root_, kToWindowManager, wire);
}
