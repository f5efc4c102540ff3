#include "accessible_texts.h"
#include "cMessageBox.h"
#include "frmMain.h"
#include "list_selection.h"
#include "pair_editor/frmAddEdit.h"
#include "table_limit.h"

#include <QListWidget>

void frmMain::lstPattern_Click()
{
    pendingPairRow_.reset(); // a later choice than the last voice command's
    const int row = selectedRow(lstPattern);
    setSelectedRow(lstCommand, row);
    setSelectedRow(lstFocus, row);
}

void frmMain::lstCommand_Click()
{
    pendingPairRow_.reset(); // a later choice than the last voice command's
    const int row = selectedRow(lstCommand);
    setSelectedRow(lstPattern, row);
    setSelectedRow(lstFocus, row);
}

void frmMain::lstFocus_Click()
{
    pendingPairRow_.reset(); // a later choice than the last voice command's
    const int row = selectedRow(lstFocus);
    setSelectedRow(lstPattern, row);
    setSelectedRow(lstCommand, row);
}

void frmMain::cmdDel_Click()
{
    updateScreen();
    const QString pattern = selectedText(lstPattern);
    if (pattern.isEmpty())
        return;
    const int row = selectedRow(lstPattern);
    const QString command = lstCommand->item(row)->text();
    const QString focus = lstFocus->item(row)->text();

    const auto answer =
        seams_.messageBox->Show(this, QStringLiteral("Are you sure you want to delete this entry?"),
                                QStringLiteral("Kormil - ") + pattern, cMessageBox::Buttons::YesNo);
    if (answer != cMessageBox::Answer::Yes)
        return;

    // A voice command may have moved the selection while the question was open: remove the
    // pair that the question named, and only if it is still where it was.
    if (rowHolds(lstPattern, row, pattern) && rowHolds(lstCommand, row, command) &&
        rowHolds(lstFocus, row, focus)) {
        for (QListWidget* list : {lstPattern, lstCommand, lstFocus})
            delete list->takeItem(row);
    }
    for (QListWidget* list : {lstPattern, lstCommand, lstFocus})
        setSelectedRow(list, -1);
    lstPattern->setFocus();
}

void frmMain::cmdEdit_Click()
{
    updateScreen();
    if (selectedText(lstPattern).isEmpty())
        return;
    bolEdit = true;
    showPairEditor();
}

void frmMain::cmdNew_Click()
{
    // Better said before the user types a pair than after.
    if (lstPattern->count() >= kMaxPairs) {
        seams_.messageBox->Show(this, tableFullText(), QStringLiteral("Kormil - Add Pair"),
                                cMessageBox::Buttons::Ok);
        return;
    }
    bolEdit = false;
    showPairEditor();
}

void frmMain::showPairEditor()
{
    // A button pressed through assistive technology opens the editor without taking the focus.
    auto* opener = qobject_cast<QWidget*>(sender());
    if (!opener)
        opener = focusWidget();
    if (!frmAddEdit_)
        frmAddEdit_ = std::make_unique<frmAddEdit>(*this, seams_.messageBox);
    returnFocusWhenHidden(frmAddEdit_.get(), opener);
    frmAddEdit_->show();
    frmAddEdit_->raise();
    frmAddEdit_->activateWindow();
}
