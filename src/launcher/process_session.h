#pragma once

#include <QString>
#include <sys/types.h>

// The session a process belongs to; 0 when it is gone. A started program leads a session of its
// own, which its children stay in also when the process between them is gone (a starter that
// forked and exited), so this ties a window's process to the command that was started.
pid_t sessionOf(pid_t process);

// The file name of the program a process runs; empty when it is gone.
QString programNameOf(pid_t process);

// Why a program's window style did not take when no window of it came while it was watched;
// empty when the program has ended, or left its work to another: it had no window to style.
QString whyNoWindow(pid_t program, int watchedMs);
