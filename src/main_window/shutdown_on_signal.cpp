#include "shutdown_on_signal.h"

#include "cShutdownSignals.h"
#include "frmMain.h"

#include <QApplication>

void closeOnShutdownSignals(cShutdownSignals& shutdown, frmMain& window, bool& requested)
{
    QObject::connect(&shutdown, &cShutdownSignals::requested, &window, [&window, &requested] {
        requested = true;
        window.closeUnattended();
        // quit() would wait for exec(), which start-up may not have reached yet.
        QApplication::exit(0);
    });
}
