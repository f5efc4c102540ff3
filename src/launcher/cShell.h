#pragma once

#include "cWindowStyling.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class cChildReaper;

// The process launcher: starts a command line with a window style, without waiting for it.
// The line is split into a program and its arguments by the POSIX shell's quoting rules,
// without expansion, pipes or redirections; the program is looked up in PATH. The styler, when
// there is one, then gives its windows the window style (see cStylerChoice); without one a
// style is accepted and has no effect. Every program it started is reaped as it ends, for as
// long as the launcher lives.
class cShell {
public:
    explicit cShell(std::unique_ptr<cWindowStyling> styler = nullptr);
    virtual ~cShell();
    cShell(const cShell&) = delete;
    cShell& operator=(const cShell&) = delete;

    // Returns the started program's task identifier. Throws cRaisedError when the program
    // cannot be started, the line is empty or unbalanced, or the style is not one of
    // 0, 1, 2, 3, 4, 6.
    virtual std::int64_t Shell(const QString& commandLine, std::int16_t windowStyle);

    // Told, with the command line and the wait status, when a program started here has ended;
    // an empty one tells nobody.
    using EndReport = std::function<void(const QString& commandLine, int waitStatus)>;
    void setEndReport(EndReport report) { endReport_ = std::move(report); }

    // Told a line when a window style did not take, or about what styles can do on this
    // desktop; an empty one tells nobody.
    using StyleReport = std::function<void(const QString& line)>;
    void setStyleReport(StyleReport report) { styleReport_ = std::move(report); }

protected:
    void reportStyle(const QString& line) const
    {
        if (styleReport_)
            styleReport_(line);
    }
    void reportEnd(const QString& commandLine, int waitStatus) const
    {
        if (endReport_)
            endReport_(commandLine, waitStatus);
    }

private:
    std::unique_ptr<cChildReaper> reaper_;
    std::unique_ptr<cWindowStyling> styler_;
    EndReport endReport_;
    StyleReport styleReport_;
    QHash<pid_t, QString> styling_; // the command lines of programs whose style is not done yet
};
