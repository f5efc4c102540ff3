#include "cStylerChoice.h"

#include "cKWinScriptStyler.h"
#include "cPlasmaWindowStyler.h"
#include "cSwayStyler.h"
#include "cToplevelStyler.h"
#include "cWaylandConnection.h"
#include "cWindowStyler.h"

DesktopSession DesktopSession::fromEnvironment()
{
    return {qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE"),
            qgetenv("SWAYSOCK")};
}

cStylerChoice::cStylerChoice(DesktopSession session, QObject* parent)
    : QObject(parent), session_(std::move(session))
{
}

cStylerChoice::~cStylerChoice() = default;

void cStylerChoice::apply(pid_t program, std::int16_t windowStyle)
{
    if (styler_) {
        styler_->apply(program, windowStyle);
        return;
    }
    waiting_.append({program, windowStyle});
    if (!connection_)
        choose();
}

void cStylerChoice::choose()
{
    if (session_.isWayland() && !session_.swaySocket.isEmpty()) {
        use(std::make_unique<cSwayStyler>(QString::fromLocal8Bit(session_.swaySocket)),
            Backend::Sway);
        return;
    }
    if (session_.isWayland())
        connection_ = cWaylandConnection::open(session_.waylandDisplay);
    if (!connection_) {
        use(std::make_unique<cWindowStyler>(session_.x11Display), Backend::X11);
        return;
    }
    // Queued: the connection is still reading when it tells, and may be let go then.
    connect(connection_.get(), &cWaylandConnection::globalsAnnounced, this,
            &cStylerChoice::chooseByGlobals, Qt::QueuedConnection);
    connect(
        connection_.get(), &cWaylandConnection::lost, this,
        [this] {
            if (styler_)
                return;
            dropConnection();
            use(std::make_unique<cWindowStyler>(session_.x11Display), Backend::X11);
        },
        Qt::QueuedConnection);
}

void cStylerChoice::chooseByGlobals()
{
    if (connection_->global("org_kde_plasma_window_management")) {
        use(std::make_unique<cPlasmaWindowStyler>(std::move(connection_)), Backend::PlasmaWindows);
        return;
    }
    if (connection_->global("zwlr_foreign_toplevel_manager_v1")) {
        use(std::make_unique<cToplevelStyler>(std::move(connection_)), Backend::Toplevels);
        return;
    }
    // The connection is kept while the bus is asked, so that a start meanwhile waits for it.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    cKWinScriptStyler::whenOffered(bus, this, [this, bus](bool offered) {
        if (styler_)
            return;
        dropConnection();
        if (offered) {
            use(std::make_unique<cKWinScriptStyler>(bus), Backend::KWinScript);
            return;
        }
        reportNotice(QStringLiteral("Window styles apply to X11 programs only on this desktop"));
        use(std::make_unique<cWindowStyler>(session_.x11Display), Backend::X11);
    });
}

void cStylerChoice::use(std::unique_ptr<cWindowStyling> styler, Backend backend)
{
    styler_ = std::move(styler);
    backend_ = backend;
    styler_->setReports([this](pid_t program, std::int16_t windowStyle,
                               const QString& whyNot) { reportDone(program, windowStyle, whyNot); },
                        [this](const QString& line) { reportNotice(line); });
    for (const auto& [program, windowStyle] : std::exchange(waiting_, {}))
        styler_->apply(program, windowStyle);
}

void cStylerChoice::dropConnection()
{
    connection_.reset();
}
