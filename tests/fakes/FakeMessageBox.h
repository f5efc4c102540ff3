#pragma once

#include "main_window/cMessageBox.h"

#include <QList>
#include <functional>

// Answers message boxes in place of a person and records what was asked.
class FakeMessageBox : public cMessageBox {
public:
    struct Shown {
        QString text;
        QString title;
        Buttons buttons;
    };

    Answer Show(QWidget*, const QString& text, const QString& title, Buttons buttons) override
    {
        shown.append({text, title, buttons});
        if (whileOpen)
            whileOpen();
        return buttons == Buttons::Ok ? Answer::Ok : answer;
    }

    QList<Shown> shown;
    Answer answer = Answer::Yes;
    // Runs while the box is "open", as events that arrive during a modal box would.
    std::function<void()> whileOpen;
};
