#include "launcher/cShell.h"
#include "main_window/frmMain.h"

#include <cstring>
#include <sys/wait.h>

void frmMain::watchCommandEnds()
{
    seams_.shell->setEndReport([this](const QString& commandLine, int waitStatus) {
        // Success stays silent: only a command that failed is worth a line.
        if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) != 0) {
            Log(QStringLiteral("Command ended with status %1: %2")
                    .arg(WEXITSTATUS(waitStatus))
                    .arg(commandLine));
        } else if (WIFSIGNALED(waitStatus)) {
            const char* name = ::sigabbrev_np(WTERMSIG(waitStatus));
            Log(QStringLiteral("Command ended by signal %1 (SIG%2): %3")
                    .arg(WTERMSIG(waitStatus))
                    .arg(QLatin1String(name ? name : "?"))
                    .arg(commandLine));
        }
    });
    seams_.shell->setStyleReport([this](const QString& line) { Log(line); });
}
