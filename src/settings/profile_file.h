#pragma once

#include "private_profile.h"

#include <string>

// The store's reading and saving of whole files (the rules are stated in private_profile.h).
namespace profile {

// Reads the regular file at `path` whole. Returns 0, ENOENT when nothing is there, or the errno
// value that kept it from being read. With `known`, a file that holds exactly those bytes is
// compared as it is read rather than copied: `same` is set and `bytes` left empty.
int readFile(const std::string& path, std::string& bytes, const std::string* known = nullptr,
             bool* same = nullptr);

// Saves `bytes` as the file at `path`, which holds `previous` now; with `keepBackup`, an
// existing file is first copied to "PATH.bak".
SaveOutcome saveFile(const std::string& path, const std::string& bytes, const std::string& previous,
                     bool keepBackup);

} // namespace profile
