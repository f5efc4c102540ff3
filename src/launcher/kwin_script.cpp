#include "kwin_script.h"

namespace {

// Plasma 6 renamed clientList, clientAdded, clientActivated and activeClient; whichever exists
// is used. Bus names and object paths hold no quotes, so they go into the text as they are.
const char kScript[] = R"js(
const program = %1, style = %2, settleMs = %3, handBackMs = %4;
const service = "%5", path = "%6", face = "%7";
const plasma6 = workspace.windowList !== undefined;
const windows = () => (plasma6 ? workspace.windowList() : workspace.clientList());
const added = plasma6 ? workspace.windowAdded : workspace.clientAdded;
const activated = plasma6 ? workspace.windowActivated : workspace.clientActivated;
const active = () => (plasma6 ? workspace.activeWindow : workspace.activeClient);
const exists = (window) => window !== null && windows().indexOf(window) >= 0;
let previous = active();
let taken = null;
let handingBack = false;

function activate(window) {
    if (plasma6)
        workspace.activeWindow = window;
    else
        workspace.activeClient = window;
}

function later(ms, then) {
    const timer = new QTimer();
    timer.singleShot = true;
    timer.interval = ms;
    timer.timeout.connect(then);
    timer.start();
}

function handBack() {
    if (exists(previous))
        activate(previous);
}

function report() {
    const gone = !exists(taken);
    let maximized = false;
    if (!gone) {
        const area = workspace.clientArea(KWin.MaximizeArea, taken);
        const frame = taken.frameGeometry;
        maximized = frame.x === area.x && frame.y === area.y && frame.width === area.width &&
                    frame.height === area.height;
    }
    callDBus(service, path, face, "Report", program, gone, !gone && taken.minimized, maximized,
             !gone && taken.active, !gone && taken.skipTaskbar && taken.skipSwitcher,
             !exists(previous) || previous.active);
}

function apply(window) {
    if (style === 0) {
        // Wayland has no hidden window: the closest is one the user is not shown anywhere.
        window.skipTaskbar = true;
        window.skipSwitcher = true;
        window.skipPager = true;
    }
    if (style === 0 || style === 2 || style === 6)
        window.minimized = true;
    if (style === 3)
        window.setMaximize(true, true);
    if (style === 1 || style === 3) {
        activate(window);
    } else {
        // KWin activates a new window a moment after announcing it, and a minimised window
        // cannot hold the focus: it goes back to the window that had it, for as long.
        handingBack = true;
        handBack();
        later(handBackMs, () => { handingBack = false; });
    }
    later(settleMs, report);
}

function consider(window) {
    if (taken !== null || !(window.normalWindow || window.dialog))
        return;
    callDBus(service, path, face, "Claim", program, window.pid, (mine) => {
        if (!mine || taken !== null || !exists(window))
            return;
        taken = window;
        if (previous === window)
            previous = null;
        apply(window);
    });
}

activated.connect((window) => {
    if (handingBack && window === taken)
        handBack();
});
added.connect(consider);
windows().forEach(consider);
)js";

} // namespace

QString kwinStyleScript(pid_t program, std::int16_t windowStyle, const KWinScriptReplyTo& replyTo,
                        int settleMs, int handBackMs)
{
    return QString::fromLatin1(kScript)
        .arg(program)
        .arg(windowStyle)
        .arg(settleMs)
        .arg(handBackMs)
        .arg(replyTo.service, replyTo.path, replyTo.interface);
}
