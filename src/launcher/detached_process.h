#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts a program without waiting for it: in a session of its own, with standard input, output
// and error on /dev/null, no other file descriptor of ours, default signal handling, and our
// environment less the desktop's startup tokens (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID). It is
// spawned without copying this process (vfork), so it starts at once even from a large one.
// Returns its process id, or -1 with errno set when it could not be started (the failure is
// known before this returns). The caller must reap the child: see cChildReaper.
// `arguments[0]` is the program: a path, or a name looked up in PATH.
pid_t startDetached(const std::vector<std::string>& arguments);
