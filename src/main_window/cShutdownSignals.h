#pragma once

#include <QObject>
#include <csignal>
#include <iterator>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, logout) into a Qt signal on the event loop,
// so that the program can close its window, and save, as if the user had closed it. A signal
// that was ignored when it was made stays ignored (nohup); once it is gone, each signal is
// handled as it was before. One may live at a time: a second one throws std::logic_error.
class cShutdownSignals : public QObject {
    Q_OBJECT

public:
    explicit cShutdownSignals(QObject* parent = nullptr);
    ~cShutdownSignals() override;

signals:
    void requested();

private:
    void drain();

    static constexpr int kHandled[] = {SIGTERM, SIGINT, SIGHUP};

    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[std::size(kHandled)] = {};
    bool installed_[std::size(kHandled)] = {};
};
