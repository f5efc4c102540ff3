#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

// A plain top-level window, titled by its first argument, that closes itself after a minute.
// Its X window id goes to standard output.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("client"));
    window.resize(320, 200);
    window.show();
    std::printf("%llu\n", static_cast<unsigned long long>(window.winId()));
    std::fflush(stdout);
    QTimer::singleShot(60000, &app, &QApplication::quit);
    return app.exec();
}
