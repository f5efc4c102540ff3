#include "main_window/cShutdownSignals.h"
#include "main_window/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain window;
    cShutdownSignals shutdown;
    bool shuttingDown = false;
    // Saves like the close button, and ends a message box that nobody will answer.
    QObject::connect(&shutdown, &cShutdownSignals::requested, [&] {
        shuttingDown = true;
        window.closeUnattended();
        QApplication::exit(0); // quit() would wait for exec(), which start-up may not have reached
    });
    window.Form_Load();
    if (shuttingDown)
        return 0;
    window.show();
    return app.exec();
}
