#pragma once

#include <QString>

class QWidget;

// Every question or warning the program puts to the user passes through here, so that tests
// can answer in place of a person. The real boxes are modal, without an icon.
class cMessageBox {
public:
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~cMessageBox() = default;
    // With Yes and No, Yes is the default button.
    virtual Answer Show(QWidget* parent, const QString& text, const QString& title,
                        Buttons buttons);
};
