#pragma once

#include "FakeMessageBox.h"
#include "FakeShell.h"
#include "FixedClock.h"
#include "main_window/frmMain.h"

#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
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
