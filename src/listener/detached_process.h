#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts a program without waiting for it: in a session of its own, with standard input, output
// and error on /dev/null, and no other file descriptor of ours. A double fork hands it to the
// system's reaper, so it never lingers here as a zombie. Returns its process id, or -1 with
// errno set when it could not be started (the failure is known before this returns).
// `arguments[0]` is the program: a path, or a name looked up in PATH.
pid_t startDetached(const std::vector<std::string>& arguments);
