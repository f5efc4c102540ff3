#include "accessible_texts.h"

#include "frmMain.h"
#include "listener/cWinsock.h"
#include "pair_editor/frmAddEdit.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStringBuilder>

namespace {

void nameAfterLabel(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    QString name = label->text();
    if (name.endsWith(u':'))
        name.chop(1);
    control->setAccessibleName(name);
}

// A style's row tells the style in words; it needs no other list.
void describeStyleRows(const frmMain& window, int first, int last)
{
    for (int row = first; row <= last && row < window.lstFocus->count(); ++row) {
        QListWidgetItem* style = window.lstFocus->item(row);
        style->setData(Qt::AccessibleDescriptionRole, styleInWords(style->text()));
    }
}

// A pattern's row tells its whole pair, so that moving through the patterns is enough to hear
// the table.
void describePatternRows(const frmMain& window, int first, int last)
{
    const int rows = std::min(
        {window.lstPattern->count(), window.lstCommand->count(), window.lstFocus->count()});
    for (int row = first; row <= last && row < rows; ++row) {
        const QString description = u"runs: " % window.lstCommand->item(row)->text() %
                                    u" \u2014 window: " %
                                    styleInWords(window.lstFocus->item(row)->text());
        window.lstPattern->item(row)->setData(Qt::AccessibleDescriptionRole, description);
    }
}

// Rows that a list has just inserted get their descriptions without a change signal each: to
// whoever watches that list they arrive described (for a long table the signals cost more than
// the descriptions). Descriptions that change in another list are signalled as ever.
void describeInsertedRows(const frmMain& window, const QListWidget* list, int first, int last)
{
    const QSignalBlocker quiet(list->model());
    if (list == window.lstFocus)
        describeStyleRows(window, first, last);
    describePatternRows(window, first, last);
}

// Rows are described only while assistive technology is active: for a long table the
// descriptions are a large part of the start-up. When it comes later, every row gets its
// description at once, before it can ask for any.
class cActiveAccessibility : public QObject, public QAccessible::ActivationObserver {
public:
    explicit cActiveAccessibility(frmMain& window)
        : QObject(&window), window_(window), active_(QAccessible::isActive())
    {
        QAccessible::installActivationObserver(this);
    }
    ~cActiveAccessibility() override { QAccessible::removeActivationObserver(this); }

    bool active() const { return active_; }

    void accessibilityActiveChanged(bool active) override
    {
        const bool came = active && !active_;
        active_ = active;
        if (!came)
            return;
        const QSignalBlocker quietStyles(window_.lstFocus->model());
        const QSignalBlocker quietPatterns(window_.lstPattern->model());
        describeStyleRows(window_, 0, window_.lstFocus->count() - 1);
        describePatternRows(window_, 0, window_.lstPattern->count() - 1);
    }

private:
    frmMain& window_;
    bool active_;
};

void keepPairRowsDescribed(frmMain& window)
{
    auto* accessibility = new cActiveAccessibility(window);
    for (QListWidget* list : {window.lstPattern, window.lstCommand, window.lstFocus})
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                         [&window, list, accessibility](const QModelIndex&, int first, int last) {
                             if (accessibility->active())
                                 describeInsertedRows(window, list, first, last);
                         });
    // A pattern's own text is not part of its description; descriptions set here change no text.
    for (QListWidget* list : {window.lstCommand, window.lstFocus})
        QObject::connect(list->model(), &QAbstractItemModel::dataChanged, list,
                         [&window, list](const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                         const QList<int>& roles) {
                             if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole))
                                 return;
                             if (list == window.lstFocus)
                                 describeStyleRows(window, topLeft.row(), bottomRight.row());
                             describePatternRows(window, topLeft.row(), bottomRight.row());
                         });
}

QString listenerState(const frmMain& window)
{
    if (window.cmdListen->text() == QLatin1String("Listen"))
        return QStringLiteral("Kormil is not listening. Press to listen on the port in the TCP "
                              "Port box.");
    const QString port = QString::number(window.wckTCP->LocalPort());
    switch (window.wckTCP->State()) {
    case cWinsock::sckListening:
        return QStringLiteral("Kormil is listening on TCP port %1. Press to stop.").arg(port);
    case cWinsock::sckConnected:
        return QStringLiteral("A recogniser is connected on TCP port %1. Press to stop.").arg(port);
    default:
        return QStringLiteral("Kormil is about to listen again on TCP port %1. Press to stop.")
            .arg(port);
    }
}

// What the listener and its watchdog log in their usual work, every time a recogniser comes
// and goes: heard each time, it would drown what matters.
bool isRoutine(const QString& message)
{
    for (const char* routine : {"Kormil started listening on ", "Connection from ",
                                "Received voice string: ", "Restarting (client connetion lost)"}) {
        if (message.startsWith(QLatin1String(routine)))
            return true;
    }
    return false;
}

class cFocusReturn : public QObject {
    Q_OBJECT

public:
    explicit cFocusReturn(QWidget* dialog) : QObject(dialog)
    {
        setObjectName(QStringLiteral("focusReturn"));
        dialog->installEventFilter(this);
    }

    QPointer<QWidget> opener;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && opener && opener->isVisible()) {
            opener->activateWindow();
            opener->setFocus(Qt::OtherFocusReason);
        }
        return false;
    }
};

} // namespace

QString styleInWords(const QString& styleText)
{
    const std::pair<QLatin1String, QString> styles[] = {
        {QLatin1String("0"), QStringLiteral("Hidden, the program runs without a window")},
        {QLatin1String("1"), QStringLiteral("Normal size, takes the focus")},
        {QLatin1String("2"), QStringLiteral("Minimised, takes the focus")},
        {QLatin1String("3"), QStringLiteral("Maximised, takes the focus")},
        {QLatin1String("4"),
         QStringLiteral("Normal size, the window you are working in keeps the focus")},
        {QLatin1String("6"),
         QStringLiteral("Minimised, the window you are working in keeps the focus")}};
    for (const auto& [text, words] : styles) {
        if (styleText == text)
            return words;
    }
    return QStringLiteral("Window style \"%1\", none of the six the editor offers").arg(styleText);
}

void describeMainWindow(frmMain& window)
{
    nameAfterLabel(window.lblTCP, window.txtPort);
    nameAfterLabel(window.lblSpeech, window.lstPattern);
    nameAfterLabel(window.lblShell, window.lstCommand);
    nameAfterLabel(window.lblLog, window.lstLog);
    window.lstFocus->setAccessibleName(QStringLiteral("Window styles"));
    window.cmdListen->setAccessibleDescription(listenerState(window));
    keepPairRowsDescribed(window);
}

void describePairEditor(frmAddEdit& editor)
{
    nameAfterLabel(editor.lblString, editor.txtString);
    nameAfterLabel(editor.lblShell, editor.txtShell);
    const std::pair<QRadioButton*, const char*> options[] = {
        {editor.optHide, "0"},   {editor.optNormFoc, "1"},   {editor.optMinFoc, "2"},
        {editor.optMaxFoc, "3"}, {editor.optNormNoFoc, "4"}, {editor.optMinNoFoc, "6"}};
    for (const auto& [option, style] : options)
        option->setAccessibleDescription(styleInWords(QLatin1String(style)));
}

void noteLogged(frmMain& window, const QString& message)
{
    // Every setting is heard as a change, even to the same text.
    const QString listener = listenerState(window);
    if (window.cmdListen->accessibleDescription() != listener)
        window.cmdListen->setAccessibleDescription(listener);
    if (!isRoutine(message))
        window.lstLog->setAccessibleDescription(message);
}

void returnFocusWhenHidden(QWidget* dialog, QWidget* opener)
{
    auto* focusReturn =
        dialog->findChild<cFocusReturn*>(QStringLiteral("focusReturn"), Qt::FindDirectChildrenOnly);
    if (!focusReturn)
        focusReturn = new cFocusReturn(dialog);
    focusReturn->opener = opener;
}

#include "accessible_texts.moc"
