#include "main_window/cShutdownSignals.h"
#include "main_window/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain window;
    cShutdownSignals shutdown;
    QObject::connect(&shutdown, &cShutdownSignals::requested, &window, &QWidget::close);
    window.Form_Load();
    window.show();
    return app.exec();
}
