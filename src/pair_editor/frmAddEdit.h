#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class cMessageBox;
class frmMain;

// The dialog that adds a pair to frmMain's table or changes the selected one. It is not modal,
// works directly on frmMain's three lists, and is only hidden by Save and Cancel, so the next
// opening shows the same window. Being shown, or activated from another of the program's
// windows, starts it afresh from frmMain's state; the focus coming back from another program
// leaves it as it was.
class frmAddEdit : public QWidget {
    Q_OBJECT

public:
    frmAddEdit(frmMain& main, std::shared_ptr<cMessageBox> messageBox);

    // Empties the boxes and, following frmMain.bolEdit, loads the selected pair ("Edit Pair",
    // "Save") or prepares a new one with window style 1 ("Add Pair", "Add").
    void Form_Activate();
    void cmdSave_Click();
    void cmdCancel_Click();
    void optHide_Click() { intFocus = 0; }
    void optNormFoc_Click() { intFocus = 1; }
    void optMinFoc_Click() { intFocus = 2; }
    void optMaxFoc_Click() { intFocus = 3; }
    void optNormNoFoc_Click() { intFocus = 4; }
    void optMinNoFoc_Click() { intFocus = 6; }

    // The window style that Save stores.
    std::int16_t intFocus = 0;

    QLabel* lblString;
    QLineEdit* txtString;
    QLabel* lblShell;
    QLineEdit* txtShell;
    QLabel* Label1;
    QRadioButton* optHide;
    QRadioButton* optMaxFoc;
    QRadioButton* optMinFoc;
    QRadioButton* optMinNoFoc;
    QRadioButton* optNormFoc;
    QRadioButton* optNormNoFoc;
    QPushButton* cmdSave;
    QPushButton* cmdCancel;

protected:
    bool event(QEvent* event) override;

private:
    struct EditedPair {
        int row = -1;
        QString pattern;
        QString command;
        QString focus;
    };

    void buildLayout();
    QRadioButton* optionForStyle(const QString& styleText) const;
    // Refuses empty text, text with a line break, and text the settings file would cut.
    bool isStorable(QLineEdit* box, const QString& emptyMessage);
    bool editedPairStillThere() const;
    void warn(const QString& text);

    frmMain& main_;
    std::shared_ptr<cMessageBox> messageBox_;
    QButtonGroup* styleGroup_;
    EditedPair edited_;
    // Closing our own message box gives the focus back to this window; that is no new visit.
    bool returningFromMessage_ = false;
    bool shownAfresh_ = false;
    // No window of this program had the focus before this one got it.
    bool focusWasOutside_ = false;
};
