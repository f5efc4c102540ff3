#pragma once

#include <QProcess>
#include <QSize>
#include <QStandardPaths>

// Clicks into a real window on an X display through xdotool, as a user with a mouse would.
class WindowClicker {
public:
    static bool available() { return !xdotool().isEmpty(); }

    explicit WindowClicker(const QString& display) : display_(display) {}

    // Waits until a window with exactly this title is shown, and takes it.
    bool find(const QString& title)
    {
        const QByteArray found =
            run({QStringLiteral("search"), QStringLiteral("--sync"),
                 QStringLiteral("--onlyvisible"), QStringLiteral("--name"), u'^' + title + u'$'});
        window_ = QString::fromLatin1(found.split('\n').first().trimmed());
        return !window_.isEmpty();
    }

    QSize size()
    {
        QSize size;
        const QByteArray shell =
            run({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window_});
        for (const QByteArray& line : shell.split('\n')) {
            if (line.startsWith("WIDTH="))
                size.setWidth(line.mid(6).toInt());
            if (line.startsWith("HEIGHT="))
                size.setHeight(line.mid(7).toInt());
        }
        return size;
    }

    // Clicks the left button at a point given in the window's own pixels.
    bool click(int x, int y)
    {
        run({QStringLiteral("mousemove"), QStringLiteral("--window"), window_, QString::number(x),
             QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
        return lastRunSucceeded_;
    }

    // Types the text, then presses the keys (xdotool's names: "Tab", "Return"), into the window
    // that has the keyboard focus.
    bool type(const QString& text, const QStringList& keys = {})
    {
        run({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
        if (lastRunSucceeded_ && !keys.isEmpty())
            run(QStringList{QStringLiteral("key")} + keys);
        return lastRunSucceeded_;
    }

private:
    static QString xdotool() { return QStandardPaths::findExecutable(QStringLiteral("xdotool")); }

    QByteArray run(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display_);
        process.setProcessEnvironment(environment);
        process.start(xdotool(), arguments);
        lastRunSucceeded_ = process.waitForFinished(15000) &&
                            process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!lastRunSucceeded_)
            process.kill();
        return process.readAllStandardOutput();
    }

    QString display_;
    QString window_;
    bool lastRunSucceeded_ = false;
};
