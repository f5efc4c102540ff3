#pragma once

#include "cWindowStyling.h"

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

class QLocalSocket;

// Gives the windows of a started program the window style it was started with, on sway, over
// its IPC socket (SWAYSOCK). It takes the first window sway announces within a few seconds whose
// process belongs to the session the program leads, then asks sway: 0, 2 and 6 to the
// scratchpad (sway neither minimises nor hides), 3 fullscreen (it has no maximise for tiled
// windows), 1 the focus, 4 the focus back to the window that had it. It reads the window's state
// back from sway's tree and reports a style that did not take, or a window that never came while
// the program still ran.
class cSwayStyler : public QObject, public cWindowStyling {
    Q_OBJECT

public:
    explicit cSwayStyler(QString socketPath, QObject* parent = nullptr);
    ~cSwayStyler() override;

    void apply(pid_t program, std::int16_t windowStyle) override;

    // How long after the start a window is looked for.
    static constexpr int kWatchMs = 5000;

private:
    struct Watch {
        std::int16_t style;
        qint64 previous = 0; // the window that had the focus at the start; 0: none known
        bool startSeen = false;
        qint64 window = 0;
    };
    using Reply = std::function<void(const QJsonDocument&)>;

    bool connected();
    void send(QLocalSocket* socket, quint32 type, const QByteArray& payload);
    void ask(quint32 type, const QByteArray& payload, Reply reply);
    void readReplies();
    void readEvents();
    void lose();
    void seeStart(pid_t program, const QJsonDocument& tree);
    void seeWindow(qint64 window, pid_t owner);
    void style(pid_t program);
    void check(pid_t program, const QJsonDocument& tree);
    void expire(pid_t program);
    void finish(pid_t program, const QString& whyNot = {});

    QString socketPath_;
    QLocalSocket* commands_;
    QLocalSocket* events_;
    QByteArray commandsRead_;
    QByteArray eventsRead_;
    std::deque<Reply> replies_; // sway answers in the order it was asked
    QHash<pid_t, Watch> watches_;
};
