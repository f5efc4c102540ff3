#pragma once

#include "launcher/cShell.h"
#include "runtime/cRaisedError.h"

#include <QList>
#include <functional>
#include <optional>

// Records what would have been started, instead of starting it.
class FakeShell : public cShell {
public:
    struct Started {
        QString commandLine;
        std::int16_t windowStyle;
        bool operator==(const Started& o) const
        {
            return commandLine == o.commandLine && windowStyle == o.windowStyle;
        }
    };

    std::int64_t Shell(const QString& commandLine, std::int16_t windowStyle) override
    {
        if (whenStarting)
            whenStarting();
        if (failure)
            throw *failure;
        started.append({commandLine, windowStyle});
        return 4242;
    }

    // As the launcher tells of a program that has ended.
    void end(const QString& commandLine, int waitStatus) { reportEnd(commandLine, waitStatus); }

    QList<Started> started;
    std::optional<cRaisedError> failure;
    // Runs where the program would start, to see what has happened before.
    std::function<void()> whenStarting;
};
