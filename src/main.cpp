#include "main_window/cShutdownSignals.h"
#include "main_window/frmMain.h"
#include "main_window/save_on_exit.h"
#include "main_window/shutdown_on_signal.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain window;
    const cSaveOnExit saveOnExit(window);
    cShutdownSignals shutdown;
    bool shuttingDown = false;
    closeOnShutdownSignals(shutdown, window, shuttingDown);
    window.Form_Load();
    if (shuttingDown)
        return 0;
    window.show();
    return app.exec();
}
