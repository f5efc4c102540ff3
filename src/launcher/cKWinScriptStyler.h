#pragma once

#include "cWindowStyling.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>

class QDBusMessage;
class QTemporaryFile;

// Gives the windows of a started program the window style it was started with, on KWin, through
// a KWin script loaded over the session bus for each start (org.kde.KWin /Scripting) and
// unloaded when it is done. KWin lets every program of the session do that, while its window
// management protocol is offered only to programs its desktop entries name. The script asks
// Kormil about each window whose process it knows, styles the first that belongs to the session
// the program leads (0 minimised and off the task bar and switcher, 2 and 6 minimised,
// 3 maximised; 1 and 3 take the focus, the others hand it back to the window that had it) and
// reports the window's state, from which a style that did not take is told.
class cKWinScriptStyler : public QObject, public cWindowStyling {
    Q_OBJECT

public:
    explicit cKWinScriptStyler(QDBusConnection bus, QObject* parent = nullptr);
    ~cKWinScriptStyler() override;

    void apply(pid_t program, std::int16_t windowStyle) override;

    // Tells `then`, from the event loop, whether KWin's scripting is on that bus.
    static void whenOffered(const QDBusConnection& bus, QObject* context,
                            std::function<void(bool)> then);

    // How long after the start a window is looked for.
    static constexpr int kWatchMs = 5000;

private:
    class Calls;
    struct Watch {
        std::int16_t style;
        QString plugin;
        std::unique_ptr<QTemporaryFile> script;
        bool claimed = false;
    };

    void load(pid_t program);
    void run(pid_t program, const QStringList& paths);
    // The script's calls; false when it is none of them or not from KWin.
    bool answer(const QDBusMessage& call);
    bool claim(pid_t program, pid_t windowProcess);
    void report(pid_t program, const QList<QVariant>& state);
    void expire(pid_t program);
    void finish(pid_t program, const QString& whyNot = {});

    QDBusConnection bus_;
    QString path_;
    std::unique_ptr<Calls> calls_;
    QString kwin_; // KWin's own name on the bus: no one else's calls are answered
    std::map<pid_t, Watch> watches_;
};
