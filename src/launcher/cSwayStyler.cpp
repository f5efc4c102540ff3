#include "cSwayStyler.h"

#include "process_session.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>
#include <QtEndian>
#include <cstring>

namespace {

constexpr char kMagic[] = "i3-ipc";
constexpr int kMagicSize = sizeof kMagic - 1;
constexpr int kHeaderSize = kMagicSize + 8;
constexpr quint32 kRunCommand = 0;
constexpr quint32 kSubscribe = 2;
constexpr quint32 kGetTree = 4;
constexpr quint32 kWindowEvent = 0x80000003;
constexpr int kConnectMs = 500;

// One message off the front of what has been read: false while it is not all there yet.
bool takeMessage(QByteArray& read, quint32& type, QByteArray& payload)
{
    if (read.size() < kHeaderSize)
        return false;
    // sway speaks in the byte order of the machine it runs on, which is ours.
    const auto size = qFromUnaligned<quint32>(read.constData() + kMagicSize);
    if (quint32(read.size() - kHeaderSize) < size)
        return false;
    type = qFromUnaligned<quint32>(read.constData() + kMagicSize + 4);
    payload = read.mid(kHeaderSize, int(size));
    read.remove(0, kHeaderSize + int(size));
    return true;
}

struct Window {
    qint64 id = 0;
    pid_t pid = 0;
    bool focused = false;
    bool visible = false;
    bool fullscreen = false;
    bool inScratchpad = false;
};

// Every window in sway's tree, with the state it shows.
void collectWindows(const QJsonObject& node, bool inScratchpad, QHash<qint64, Window>& into)
{
    if (node.value(QLatin1String("type")) == QLatin1String("workspace"))
        inScratchpad = node.value(QLatin1String("name")) == QLatin1String("__i3_scratch");
    if (node.contains(QLatin1String("pid"))) {
        Window window;
        window.id = node.value(QLatin1String("id")).toInteger();
        window.pid = pid_t(node.value(QLatin1String("pid")).toInteger());
        window.focused = node.value(QLatin1String("focused")).toBool();
        window.visible = node.value(QLatin1String("visible")).toBool();
        window.fullscreen = node.value(QLatin1String("fullscreen_mode")).toInt() == 1;
        window.inScratchpad = inScratchpad;
        into.insert(window.id, window);
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        for (const QJsonValue child : node.value(QLatin1String(children)).toArray())
            collectWindows(child.toObject(), inScratchpad, into);
    }
}

QHash<qint64, Window> windowsIn(const QJsonDocument& tree)
{
    QHash<qint64, Window> windows;
    collectWindows(tree.object(), false, windows);
    return windows;
}

QByteArray on(qint64 window, const char* command)
{
    return "[con_id=" + QByteArray::number(window) + "] " + command;
}

} // namespace

cSwayStyler::cSwayStyler(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)), commands_(new QLocalSocket(this)),
      events_(new QLocalSocket(this))
{
    connect(commands_, &QLocalSocket::readyRead, this, &cSwayStyler::readReplies);
    connect(events_, &QLocalSocket::readyRead, this, &cSwayStyler::readEvents);
    for (QLocalSocket* socket : {commands_, events_})
        connect(socket, &QLocalSocket::disconnected, this, &cSwayStyler::lose,
                Qt::QueuedConnection);
}

cSwayStyler::~cSwayStyler() = default;

void cSwayStyler::apply(pid_t program, std::int16_t windowStyle)
{
    if (!connected()) {
        reportDone(program, windowStyle, QStringLiteral("sway could not be reached"));
        return;
    }
    watches_.insert(program, {windowStyle});
    ask(kGetTree, {}, [this, program](const QJsonDocument& tree) { seeStart(program, tree); });
    QTimer::singleShot(kWatchMs, this, [this, program] { expire(program); });
}

bool cSwayStyler::connected()
{
    if (commands_->state() == QLocalSocket::ConnectedState &&
        events_->state() == QLocalSocket::ConnectedState)
        return true;
    for (QLocalSocket* socket : {commands_, events_}) {
        socket->abort();
        // A local socket connects at once unless sway hangs.
        socket->connectToServer(socketPath_);
        if (!socket->waitForConnected(kConnectMs))
            return false;
    }
    commandsRead_.clear();
    eventsRead_.clear();
    replies_.clear();
    send(events_, kSubscribe, QByteArrayLiteral("[\"window\"]"));
    return true;
}

void cSwayStyler::send(QLocalSocket* socket, quint32 type, const QByteArray& payload)
{
    QByteArray message(kMagic, kMagicSize);
    char numbers[8];
    qToUnaligned<quint32>(quint32(payload.size()), numbers);
    qToUnaligned<quint32>(type, numbers + 4);
    message.append(numbers, sizeof numbers).append(payload);
    socket->write(message);
    socket->flush();
}

void cSwayStyler::ask(quint32 type, const QByteArray& payload, Reply reply)
{
    replies_.push_back(std::move(reply));
    send(commands_, type, payload);
}

void cSwayStyler::readReplies()
{
    commandsRead_ += commands_->readAll();
    quint32 type = 0;
    QByteArray payload;
    while (takeMessage(commandsRead_, type, payload) && !replies_.empty()) {
        const Reply reply = std::move(replies_.front());
        replies_.pop_front();
        reply(QJsonDocument::fromJson(payload));
    }
}

void cSwayStyler::readEvents()
{
    eventsRead_ += events_->readAll();
    quint32 type = 0;
    QByteArray payload;
    while (takeMessage(eventsRead_, type, payload)) {
        if (type != kWindowEvent)
            continue;
        const QJsonObject event = QJsonDocument::fromJson(payload).object();
        if (event.value(QLatin1String("change")) != QLatin1String("new"))
            continue;
        const QJsonObject window = event.value(QLatin1String("container")).toObject();
        seeWindow(window.value(QLatin1String("id")).toInteger(),
                  pid_t(window.value(QLatin1String("pid")).toInteger()));
    }
}

void cSwayStyler::lose()
{
    // Told late, queued: a connection made again since is not lost.
    if (commands_->state() == QLocalSocket::ConnectedState &&
        events_->state() == QLocalSocket::ConnectedState)
        return;
    replies_.clear();
    for (const pid_t program : watches_.keys())
        finish(program, QStringLiteral("the connection to sway was lost"));
}

void cSwayStyler::seeStart(pid_t program, const QJsonDocument& tree)
{
    const auto watch = watches_.find(program);
    if (watch == watches_.end())
        return;
    watch->startSeen = true;
    for (const Window& window : windowsIn(tree)) {
        // The program may have been quicker than this question.
        if (sessionOf(window.pid) == program)
            watch->window = window.id;
        else if (window.focused)
            watch->previous = window.id;
    }
    if (watch->window != 0)
        style(program);
}

void cSwayStyler::seeWindow(qint64 window, pid_t owner)
{
    const pid_t session = sessionOf(owner);
    const auto watch = watches_.find(session);
    if (session <= 0 || watch == watches_.end() || watch->window != 0)
        return;
    watch->window = window;
    if (watch->startSeen)
        style(session);
}

void cSwayStyler::style(pid_t program)
{
    const Watch& watch = watches_[program];
    QList<QByteArray> commands;
    switch (watch.style) {
    case 0:
    case 2:
    case 6:
        commands << on(watch.window, "move scratchpad");
        break;
    case 1:
        commands << on(watch.window, "focus");
        break;
    case 3:
        commands << on(watch.window, "focus") << on(watch.window, "fullscreen enable");
        break;
    default:
        break;
    }
    // A window in the scratchpad cannot hold the focus: it goes back where it was, as for 4.
    if (watch.style != 1 && watch.style != 3 && watch.previous != 0)
        commands << on(watch.previous, "focus");
    if (commands.isEmpty()) {
        finish(program);
        return;
    }
    const QByteArray line = commands.join("; ");
    ask(kRunCommand, line, [this, program, line](const QJsonDocument& results) {
        for (const QJsonValue result : results.array()) {
            if (!result.toObject().value(QLatin1String("success")).toBool()) {
                finish(program,
                       QStringLiteral("sway refused \"%1\": %2")
                           .arg(QString::fromUtf8(line),
                                result.toObject().value(QLatin1String("error")).toString()));
                return;
            }
        }
        ask(kGetTree, {}, [this, program](const QJsonDocument& tree) { check(program, tree); });
    });
}

void cSwayStyler::check(pid_t program, const QJsonDocument& tree)
{
    const auto watch = watches_.constFind(program);
    if (watch == watches_.cend())
        return;
    const QHash<qint64, Window> windows = windowsIn(tree);
    const auto window = windows.constFind(watch->window);
    if (window == windows.cend()) {
        finish(program); // closed already
        return;
    }
    const auto previous = windows.constFind(watch->previous);
    const bool focusKept = previous == windows.cend() || previous->focused;
    bool took = false;
    switch (watch->style) {
    case 0:
    case 2:
    case 6:
        took = window->inScratchpad && focusKept;
        break;
    case 1:
        took = window->focused;
        break;
    case 3:
        took = window->focused && window->fullscreen;
        break;
    case 4:
        took = window->visible && focusKept;
        break;
    }
    finish(program, took ? QString() : QStringLiteral("the desktop ignored it"));
}

void cSwayStyler::expire(pid_t program)
{
    const auto watch = watches_.constFind(program);
    if (watch == watches_.cend() || watch->window != 0)
        return;
    finish(program, whyNoWindow(program, kWatchMs));
}

void cSwayStyler::finish(pid_t program, const QString& whyNot)
{
    const auto watch = watches_.find(program);
    if (watch == watches_.end())
        return;
    const std::int16_t style = watch->style;
    watches_.erase(watch);
    reportDone(program, style, whyNot);
}
