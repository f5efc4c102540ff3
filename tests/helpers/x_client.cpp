#include <QApplication>
#include <QTimer>
#include <QWidget>

// A plain top-level window, titled by its first argument, that closes itself after a minute.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("client"));
    window.resize(320, 200);
    window.show();
    QTimer::singleShot(60000, &app, &QApplication::quit);
    return app.exec();
}
