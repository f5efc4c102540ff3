#include "cShell.h"

#include "cChildReaper.h"
#include "cWindowStyling.h"
#include "command_line.h"
#include "detached_process.h"
#include "runtime/cRaisedError.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr int kInvalidCall = 5;
constexpr int kFileNotFound = 53;
constexpr int kPermissionDenied = 70;

bool isWindowStyle(std::int16_t windowStyle)
{
    return (windowStyle >= 0 && windowStyle <= 4) || windowStyle == 6;
}

} // namespace

cShell::cShell(std::unique_ptr<cWindowStyling> styler)
    : reaper_(std::make_unique<cChildReaper>()), styler_(std::move(styler))
{
    if (!styler_)
        return;
    styler_->setReports(
        [this](pid_t program, std::int16_t windowStyle, const QString& whyNot) {
            const QString commandLine = styling_.take(program);
            if (!whyNot.isEmpty())
                reportStyle(QStringLiteral("Window style %1 was not applied: %2 (command: %3)")
                                .arg(windowStyle)
                                .arg(whyNot, commandLine));
        },
        [this](const QString& line) { reportStyle(line); });
}

cShell::~cShell() = default;

std::int64_t cShell::Shell(const QString& commandLine, std::int16_t windowStyle)
{
    if (!isWindowStyle(windowStyle))
        throw cRaisedError(kInvalidCall, QStringLiteral("window style %1 is none of 0, 1, 2, 3, "
                                                        "4, 6")
                                             .arg(windowStyle));
    const auto words = cmdline::split(commandLine.toLocal8Bit().toStdString());
    if (!words)
        throw cRaisedError(kInvalidCall, QStringLiteral("a quote is not closed"));
    if (words->empty())
        throw cRaisedError(kInvalidCall, QStringLiteral("the command line is empty"));

    const pid_t started = startDetached(*words);
    if (started < 0) {
        const int error = errno;
        if (error == ENOENT)
            throw cRaisedError(kFileNotFound, QStringLiteral("File not found"));
        if (error == EACCES)
            throw cRaisedError(kPermissionDenied, QStringLiteral("Permission denied"));
        throw cRaisedError(kInvalidCall, QString::fromLocal8Bit(std::strerror(error)));
    }
    reaper_->watch(started,
                   [this, commandLine](int waitStatus) { reportEnd(commandLine, waitStatus); });
    if (styler_) {
        styling_.insert(started, commandLine);
        styler_->apply(started, windowStyle);
    }
    return started;
}
