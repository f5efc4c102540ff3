#include "launcher/cShell.h"
#include "launcher/cStylerChoice.h"
#include "main_window/cSettingsLock.h"
#include "main_window/cShutdownSignals.h"
#include "main_window/frmMain.h"
#include "main_window/save_on_display_loss.h"
#include "main_window/shutdown_on_signal.h"
#include "main_window/standard_streams.h"

#include <QApplication>

// Everything that lives as long as the program is made here, in the order it is needed, and
// goes in the reverse order.
int main(int argc, char* argv[])
{
    keepStandardStreamsSafe();
    QApplication app(argc, argv);
    auto launcher = std::make_shared<cShell>(
        std::make_unique<cStylerChoice>(DesktopSession::fromEnvironment()));
    const frmMainSeams seams = frmMainSeams::real(launcher);
    cShutdownSignals shutdown;
    cSettingsLock lock(seams.settingsPath);
    if (!lock.take(*seams.messageBox, shutdown))
        return 1;
    frmMain window(seams);
    const cSaveOnDisplayLoss saveOnDisplayLoss(window);
    bool shuttingDown = false;
    closeOnShutdownSignals(shutdown, window, shuttingDown);
    window.Form_Load();
    if (!lock.problem().isEmpty())
        window.Log(lock.problem());
    if (shuttingDown)
        return 0;
    window.show();
    return app.exec();
}
