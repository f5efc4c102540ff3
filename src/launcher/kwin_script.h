#pragma once

#include <QString>
#include <cstdint>
#include <sys/types.h>

// Where a KWin script sends what it finds: Kormil's name on the session bus and the object
// that answers there.
struct KWinScriptReplyTo {
    QString service;
    QString path;
    QString interface;
};

// The text of a KWin script that gives the window of one started program its window style.
// For every window there is or that comes it asks Kormil's "Claim" (program, window's process)
// whether the window is the program's; on the first yes it styles that window, hands the focus
// back for every style but 1 and 3, and `settleMs` later calls "Report" (program, gone,
// minimised, maximised, active, off the task bar and switcher, focus kept). It speaks the
// scripting names of Plasma 5 and of Plasma 6.
QString kwinStyleScript(pid_t program, std::int16_t windowStyle, const KWinScriptReplyTo& replyTo,
                        int settleMs, int handBackMs);
