#include "launcher/cShell.h"
#include "launcher/cStylerChoice.h"
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
    frmMain window(frmMainSeams::real(launcher));
    const cSaveOnDisplayLoss saveOnDisplayLoss(window);
    cShutdownSignals shutdown;
    bool shuttingDown = false;
    closeOnShutdownSignals(shutdown, window, shuttingDown);
    window.Form_Load();
    if (shuttingDown)
        return 0;
    window.show();
    return app.exec();
}
