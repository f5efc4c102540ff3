#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, logout) into a Qt signal on the event loop,
// so that the program can close its window, and save, as if the user had closed it.
class cShutdownSignals : public QObject {
    Q_OBJECT

public:
    explicit cShutdownSignals(QObject* parent = nullptr);
    ~cShutdownSignals() override;

signals:
    void requested();

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};
