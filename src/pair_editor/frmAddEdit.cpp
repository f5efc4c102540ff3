#include "frmAddEdit.h"

#include "main_window/accessible_texts.h"
#include "main_window/cMessageBox.h"
#include "main_window/frmMain.h"
#include "main_window/kormil_icon.h"
#include "main_window/list_selection.h"
#include "main_window/table_limit.h"
#include "main_window/twips.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QWindow>

namespace {

const QString kAddTitle = QStringLiteral("Kormil - Add Pair");
// What the settings file reads back of one value.
constexpr qsizetype kMaxStoredBytes = 254;

} // namespace

frmAddEdit::frmAddEdit(frmMain& main, std::shared_ptr<cMessageBox> messageBox)
    : main_(main), messageBox_(std::move(messageBox))
{
    setObjectName(QStringLiteral("frmAddEdit"));
    setWindowTitle(QStringLiteral("Add Pair"));
    setWindowIcon(kormilIcon());
    buildLayout();

    const std::pair<QRadioButton*, void (frmAddEdit::*)()> handlers[] = {
        {optHide, &frmAddEdit::optHide_Click},
        {optNormFoc, &frmAddEdit::optNormFoc_Click},
        {optMinFoc, &frmAddEdit::optMinFoc_Click},
        {optMaxFoc, &frmAddEdit::optMaxFoc_Click},
        {optNormNoFoc, &frmAddEdit::optNormNoFoc_Click},
        {optMinNoFoc, &frmAddEdit::optMinNoFoc_Click}};
    for (const auto& [option, handler] : handlers) {
        connect(option, &QRadioButton::toggled, this, [this, handler = handler](bool checked) {
            if (checked)
                (this->*handler)();
        });
    }
    connect(cmdSave, &QPushButton::clicked, this, &frmAddEdit::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmAddEdit::cmdCancel_Click);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
        if (!focused || focused != windowHandle())
            focusWasOutside_ = !focused;
    });
    for (QLineEdit* box : {txtString, txtShell})
        connect(box, &QLineEdit::returnPressed, this, &frmAddEdit::cmdSave_Click);
    connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this,
            &frmAddEdit::cmdCancel_Click);
}

void frmAddEdit::buildLayout()
{
    useDesignFont(this);
    const int dpi = logicalDpiX();
    setFixedSize(twipsToPixels(6885, dpi), twipsToPixels(4455, dpi));

    lblString = placeControl<QLabel>(
        this, "lblString", {120, 120, 4335, 255},
        QStringLiteral("Enter the string to be paired with the Lexiphon results:"));
    txtString = placeControl<QLineEdit>(this, "txtString", {120, 360, 6615, 375});
    lblShell = placeControl<QLabel>(this, "lblShell", {120, 960, 2535, 255},
                                    QStringLiteral("Enter the shell command to be run:"));
    txtShell = placeControl<QLineEdit>(this, "txtShell", {120, 1320, 6615, 375});
    Label1 = placeControl<QLabel>(this, "Label1", {120, 1920, 1695, 255},
                                  QStringLiteral("Chose a window state:"));
    optHide = placeControl<QRadioButton>(this, "optHide", {120, 2160, 855, 255},
                                         QStringLiteral("vbHide"));
    optMaxFoc = placeControl<QRadioButton>(this, "optMaxFoc", {120, 3360, 1695, 255},
                                           QStringLiteral("vbMaximizedFocus"));
    optMinFoc = placeControl<QRadioButton>(this, "optMinFoc", {120, 2400, 1815, 255},
                                           QStringLiteral("vbMinimizedFocus"));
    optMinNoFoc = placeControl<QRadioButton>(this, "optMinNoFoc", {120, 2640, 1815, 255},
                                             QStringLiteral("vbMinimizedNoFocus"));
    optNormFoc = placeControl<QRadioButton>(this, "optNormFoc", {120, 2880, 1455, 255},
                                            QStringLiteral("vbNormalFocus"));
    optNormNoFoc = placeControl<QRadioButton>(this, "optNormNoFoc", {120, 3120, 1695, 255},
                                              QStringLiteral("vbNormalNoFocus"));
    cmdSave =
        placeControl<QPushButton>(this, "cmdSave", {120, 3960, 1335, 375}, QStringLiteral("Add"));
    cmdCancel = placeControl<QPushButton>(this, "cmdCancel", {5400, 3960, 1335, 375},
                                          QStringLiteral("Cancel"));

    styleGroup_ = new QButtonGroup(this);
    QWidget* const tabOrder[] = {txtString,   txtShell,   optHide,      optMaxFoc, optMinFoc,
                                 optMinNoFoc, optNormFoc, optNormNoFoc, cmdSave,   cmdCancel};
    for (QWidget* widget : tabOrder) {
        if (auto* option = qobject_cast<QRadioButton*>(widget))
            styleGroup_->addButton(option);
    }
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    describePairEditor(*this);
}

bool frmAddEdit::event(QEvent* event)
{
    if (event->type() == QEvent::Show)
        shownAfresh_ = true;
    if (event->type() == QEvent::WindowActivate) {
        // The user may have gone to another program to copy a command line: coming back from
        // there is no new visit, and what was typed stays.
        if (returningFromMessage_)
            returningFromMessage_ = false;
        else if (shownAfresh_ || !focusWasOutside_)
            Form_Activate();
        shownAfresh_ = false;
    }
    return QWidget::event(event);
}

QRadioButton* frmAddEdit::optionForStyle(const QString& styleText) const
{
    const std::pair<const char*, QRadioButton*> styles[] = {
        {"0", optHide},   {"1", optNormFoc},   {"2", optMinFoc},
        {"3", optMaxFoc}, {"4", optNormNoFoc}, {"6", optMinNoFoc}};
    for (const auto& [text, option] : styles) {
        if (styleText == QLatin1String(text))
            return option;
    }
    return nullptr;
}

void frmAddEdit::Form_Activate()
{
    txtString->clear();
    txtShell->clear();
    styleGroup_->setExclusive(false);
    for (QRadioButton* option :
         {optHide, optMaxFoc, optMinFoc, optMinNoFoc, optNormFoc, optNormNoFoc})
        option->setChecked(false);
    styleGroup_->setExclusive(true);
    intFocus = 0;

    if (main_.bolEdit) {
        setWindowTitle(QStringLiteral("Edit Pair"));
        cmdSave->setText(QStringLiteral("Save"));
        const int row = selectedRow(main_.lstPattern);
        edited_ = {row, rowText(main_.lstPattern, row), rowText(main_.lstCommand, row),
                   rowText(main_.lstFocus, row)};
        txtString->setText(edited_.pattern);
        txtShell->setText(edited_.command);
        if (QRadioButton* option = optionForStyle(edited_.focus))
            option->setChecked(true);
    } else {
        setWindowTitle(QStringLiteral("Add Pair"));
        cmdSave->setText(QStringLiteral("Add"));
        edited_ = {};
        optNormFoc->setChecked(true);
    }
}

void frmAddEdit::warn(const QString& text)
{
    messageBox_->Show(this, text, kAddTitle, cMessageBox::Buttons::Ok);
    returningFromMessage_ = isVisible() && !isActiveWindow();
}

bool frmAddEdit::isStorable(QLineEdit* box, const QString& emptyMessage)
{
    const QString text = box->text();
    QString problem;
    if (text.isEmpty())
        problem = emptyMessage;
    else if (text.contains(u'\n') || text.contains(u'\r'))
        problem = QStringLiteral("The text must be a single line.");
    else if (text.toLocal8Bit().size() > kMaxStoredBytes)
        problem = QStringLiteral("The text is too long to be kept: at most %1 bytes are stored "
                                 "(a letter outside plain ASCII takes two or more).")
                      .arg(kMaxStoredBytes);
    if (problem.isEmpty())
        return true;
    warn(problem);
    box->setFocus();
    return false;
}

bool frmAddEdit::editedPairStillThere() const
{
    return rowHolds(main_.lstPattern, edited_.row, edited_.pattern) &&
           rowHolds(main_.lstCommand, edited_.row, edited_.command) &&
           rowHolds(main_.lstFocus, edited_.row, edited_.focus);
}

void frmAddEdit::cmdSave_Click()
{
    if (!isStorable(txtString, QStringLiteral("Enter a voice command")) ||
        !isStorable(txtShell, QStringLiteral("Enter a command to execute")))
        return;

    const QString pattern = txtString->text();
    const QString command = txtShell->text();
    const QString focus = QString::number(intFocus);
    if (!main_.bolEdit) {
        // The table may have grown while the dialog was open.
        if (main_.lstPattern->count() >= kMaxPairs) {
            warn(tableFullText());
            return;
        }
        main_.lstPattern->addItem(pattern);
        main_.lstCommand->addItem(command);
        main_.lstFocus->addItem(focus);
        // The other lists scroll along; the selection stays where it was.
        main_.lstPattern->scrollToItem(main_.lstPattern->item(main_.lstPattern->count() - 1));
        main_.Log(QStringLiteral("Added voice command [") + pattern +
                  QStringLiteral("] to execute: ") + command);
    } else {
        // The pair loaded into the dialog, not whatever a voice command selected meanwhile.
        if (!editedPairStillThere()) {
            warn(QStringLiteral("The pair you were editing has been deleted or changed "
                                "meanwhile, so nothing was saved. Cancel, then select the pair "
                                "again."));
            return;
        }
        main_.lstPattern->item(edited_.row)->setText(pattern);
        main_.lstCommand->item(edited_.row)->setText(command);
        main_.lstFocus->item(edited_.row)->setText(focus);
        main_.Log(QStringLiteral("Updated entry, voice command [") + pattern +
                  QStringLiteral("] will execute: ") + command);
    }
    hide();
}

void frmAddEdit::cmdCancel_Click()
{
    hide();
}
