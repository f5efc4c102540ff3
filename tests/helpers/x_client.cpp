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
    // With a second argument, the title changes to it a second later.
    if (argc > 2)
        QTimer::singleShot(1000, &window, [&window, title = QString::fromLocal8Bit(argv[2])] {
            window.setWindowTitle(title);
        });
    QTimer::singleShot(60000, &app, &QApplication::quit);
    return app.exec();
}
