#include "cKWinScriptStyler.h"

#include "kwin_script.h"
#include "process_session.h"
#include "style_readback.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVirtualObject>
#include <QDir>
#include <QTemporaryFile>
#include <QTimer>
#include <csignal>
#include <unistd.h>

namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kInterface = QStringLiteral("org.kormil.WindowStyles");
// The script reads the state back this long after its requests; KWin answers them at once, the
// window's client a moment later.
constexpr int kSettleMs = 1000;
// KWin activates a new window a few milliseconds after announcing it; for every style but 1 and
// 3 that is undone for as long.
constexpr int kHandBackMs = 500;
// How long the script's report may take beyond that before it is given up.
constexpr int kReportGraceMs = 2000;

QDBusMessage scripting(const QString& method)
{
    return QDBusMessage::createMethodCall(kKWin, QStringLiteral("/Scripting"),
                                          QStringLiteral("org.kde.kwin.Scripting"), method);
}

// Calls, and tells `then` the reply or the error once it is there.
void whenAnswered(const QDBusConnection& bus, const QDBusMessage& call, QObject* context,
                  std::function<void(const QDBusMessage&)> then)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, then = std::move(then)] {
                         watcher->deleteLater();
                         then(watcher->reply());
                     });
}

} // namespace

class cKWinScriptStyler::Calls : public QDBusVirtualObject {
public:
    explicit Calls(cKWinScriptStyler* styler) : styler_(styler) {}
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        return styler_->answer(message);
    }
    QString introspect(const QString&) const override { return {}; }

private:
    cKWinScriptStyler* styler_;
};

cKWinScriptStyler::cKWinScriptStyler(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)),
      path_(QStringLiteral("/org/kormil/WindowStyles/%1").arg(quintptr(this))),
      calls_(std::make_unique<Calls>(this))
{
    bus_.registerVirtualObject(path_, calls_.get());
}

cKWinScriptStyler::~cKWinScriptStyler()
{
    bus_.unregisterObject(path_);
    for (const auto& [program, watch] : watches_)
        bus_.call(scripting(QStringLiteral("unloadScript")) << watch.plugin, QDBus::NoBlock);
}

void cKWinScriptStyler::whenOffered(const QDBusConnection& bus, QObject* context,
                                    std::function<void(bool)> then)
{
    if (!bus.isConnected()) {
        QTimer::singleShot(0, context, [then = std::move(then)] { then(false); });
        return;
    }
    whenAnswered(
        bus,
        QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"))
            << kKWin,
        context, [then = std::move(then)](const QDBusMessage& reply) {
            then(reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool());
        });
}

void cKWinScriptStyler::apply(pid_t program, std::int16_t windowStyle)
{
    Watch& watch = watches_[program];
    watch.style = windowStyle;
    watch.plugin = QStringLiteral("kormil-style-%1-%2").arg(::getpid()).arg(program);
    watch.script = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                    QStringLiteral("/kormil-style-XXXXXX.js"));
    const QByteArray text =
        kwinStyleScript(program, windowStyle, {bus_.baseService(), path_, kInterface}, kSettleMs,
                        kHandBackMs)
            .toUtf8();
    if (!watch.script->open() || watch.script->write(text) != text.size() ||
        !watch.script->flush()) {
        finish(program, QStringLiteral("its KWin script could not be written: %1")
                            .arg(watch.script->errorString()));
        return;
    }
    load(program);
    QTimer::singleShot(kWatchMs, this, [this, program] { expire(program); });
}

void cKWinScriptStyler::load(pid_t program)
{
    const Watch& watch = watches_.at(program);
    whenAnswered(
        bus_, scripting(QStringLiteral("loadScript")) << watch.script->fileName() << watch.plugin,
        this, [this, program](const QDBusMessage& reply) {
            if (!watches_.count(program))
                return;
            const int id = reply.arguments().value(0).toInt();
            if (reply.type() != QDBusMessage::ReplyMessage || id < 0) {
                finish(
                    program,
                    QStringLiteral("KWin did not load its script: %1").arg(reply.errorMessage()));
                return;
            }
            kwin_ = reply.service();
            // Plasma 6 moved the loaded scripts under /Scripting.
            run(program,
                {QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id)});
        });
}

void cKWinScriptStyler::run(pid_t program, const QStringList& paths)
{
    whenAnswered(
        bus_,
        QDBusMessage::createMethodCall(kKWin, paths.first(), QStringLiteral("org.kde.kwin.Script"),
                                       QStringLiteral("run")),
        this, [this, program, paths](const QDBusMessage& reply) {
            if (!watches_.count(program) || reply.type() == QDBusMessage::ReplyMessage)
                return;
            if (paths.size() > 1)
                run(program, paths.mid(1));
            else
                finish(program,
                       QStringLiteral("KWin did not run its script: %1").arg(reply.errorMessage()));
        });
}

bool cKWinScriptStyler::answer(const QDBusMessage& call)
{
    if (call.service() != kwin_ || call.interface() != kInterface)
        return false;
    const QList<QVariant> arguments = call.arguments();
    const auto program = pid_t(arguments.value(0).toLongLong());
    if (call.member() == QLatin1String("Claim") && arguments.size() == 2) {
        bus_.send(call.createReply(claim(program, pid_t(arguments.at(1).toLongLong()))));
        return true;
    }
    if (call.member() == QLatin1String("Report") && arguments.size() == 7) {
        bus_.send(call.createReply());
        report(program, arguments.mid(1));
        return true;
    }
    return false;
}

bool cKWinScriptStyler::claim(pid_t program, pid_t windowProcess)
{
    const auto watch = watches_.find(program);
    if (watch == watches_.end() || watch->second.claimed || windowProcess <= 0 ||
        sessionOf(windowProcess) != program)
        return false;
    watch->second.claimed = true;
    QTimer::singleShot(kSettleMs + kReportGraceMs, this, [this, program] {
        if (watches_.count(program))
            finish(program, ::kill(program, 0) == 0
                                ? QStringLiteral("KWin's script did not tell the window's state")
                                : QString());
    });
    return true;
}

void cKWinScriptStyler::report(pid_t program, const QList<QVariant>& state)
{
    const auto watch = watches_.find(program);
    if (watch == watches_.end() || !watch->second.claimed)
        return;
    const bool gone = state.at(0).toBool();
    const bool took = showsStyle(watch->second.style,
                                 {state.at(1).toBool(), state.at(2).toBool(), state.at(3).toBool(),
                                  state.at(4).toBool(), state.at(5).toBool()});
    // A window closed before its state was read back: nothing to tell.
    finish(program, gone || took ? QString() : QStringLiteral("the desktop ignored it"));
}

void cKWinScriptStyler::expire(pid_t program)
{
    const auto watch = watches_.find(program);
    if (watch == watches_.end() || watch->second.claimed)
        return;
    finish(program, whyNoWindow(program, kWatchMs));
}

void cKWinScriptStyler::finish(pid_t program, const QString& whyNot)
{
    const auto watch = watches_.find(program);
    if (watch == watches_.end())
        return;
    const std::int16_t style = watch->second.style;
    bus_.call(scripting(QStringLiteral("unloadScript")) << watch->second.plugin, QDBus::NoBlock);
    watches_.erase(watch);
    reportDone(program, style, whyNot);
}
