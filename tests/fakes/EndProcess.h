#pragma once

#include <QProcess>

// Asks a server the test started to end, so that it removes its sockets and lock files; kills
// it only when it does not.
inline void endProcess(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}
