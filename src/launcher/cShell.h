#pragma once

#include <QString>
#include <cstdint>

// The process launcher: starts a command line with a window style, without waiting for it.
// The line is split into a program and its arguments by the POSIX shell's quoting rules,
// without expansion, pipes or redirections; the program is looked up in PATH. On an X11 desktop
// its windows then take the window style (see cWindowStyler).
class cShell {
public:
    virtual ~cShell() = default;

    // Returns the started program's task identifier. Throws cRaisedError when the program
    // cannot be started, the line is empty or unbalanced, or the style is not one of
    // 0, 1, 2, 3, 4, 6.
    virtual std::int64_t Shell(const QString& commandLine, std::int16_t windowStyle);
};
