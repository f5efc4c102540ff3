#pragma once

#include "FakeMessageBox.h"
#include "FakeShell.h"
#include "FixedClock.h"
#include "listener/cWinsock.h"
#include "main_window/frmMain.h"

#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <QTest>
#include <memory>

// A main window whose seams are fakes, reading and writing the given settings file. Its port
// box holds 0, so that start-up listens on a port the system hands out.
struct TestWindow {
    explicit TestWindow(const QString& settingsPath)
        : messages(std::make_shared<FakeMessageBox>()), clock(std::make_shared<FixedClock>()),
          shell(std::make_shared<FakeShell>()),
          window(frmMainSeams{messages, clock, shell, settingsPath})
    {
        window.txtPort->setText(QStringLiteral("0"));
    }

    static QStringList rows(const QListWidget* list)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    // Waits until the window is connected to a peer and shows the line that says so, which
    // comes with the screen's next update.
    bool servesPeer()
    {
        return QTest::qWaitFor(
            [this] {
                const QStringList log = rows(window.lstLog);
                return window.wckTCP->State() == cWinsock::sckConnected && !log.isEmpty() &&
                       log.last().endsWith(QStringLiteral(" established"));
            },
            5000);
    }

    void addPair(const QString& pattern, const QString& command, const QString& focus)
    {
        window.lstPattern->addItem(pattern);
        window.lstCommand->addItem(command);
        window.lstFocus->addItem(focus);
    }

    std::shared_ptr<FakeMessageBox> messages;
    std::shared_ptr<FixedClock> clock;
    std::shared_ptr<FakeShell> shell;
    frmMain window;
};
