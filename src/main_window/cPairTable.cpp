#include "cPairTable.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

cPairTable::cPairTable(QList<QListWidget*> lists, QObject* parent)
    : QObject(parent), lists_(std::move(lists))
{
    for (QListWidget* list : std::as_const(lists_)) {
        connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this,
                [this, list](int firstRow) { followVertical(list, firstRow); });
        // A list lays out new rows later than the one that was scrolled to them.
        connect(list->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this, list] {
            following_ = true;
            list->verticalScrollBar()->setValue(firstRow_);
            following_ = false;
        });
        connect(list->horizontalScrollBar(), &QScrollBar::rangeChanged, this,
                &cPairTable::matchHorizontalBars);
        connect(list, &QListWidget::itemDoubleClicked, this, &cPairTable::editRequested);
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
        viewports_.append(list->viewport());
    }
}

void cPairTable::followVertical(const QListWidget* source, int firstRow)
{
    // A list that cannot scroll as far must not pull the others back.
    if (following_)
        return;
    following_ = true;
    firstRow_ = firstRow;
    for (QListWidget* list : std::as_const(lists_)) {
        if (list != source)
            list->verticalScrollBar()->setValue(firstRow);
    }
    following_ = false;
}

void cPairTable::matchHorizontalBars()
{
    bool anyNeeded = false;
    for (const QListWidget* list : std::as_const(lists_))
        anyNeeded = anyNeeded || list->horizontalScrollBar()->maximum() > 0;
    for (QListWidget* list : std::as_const(lists_))
        list->setHorizontalScrollBarPolicy(anyNeeded ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAsNeeded);
}

bool cPairTable::eventFilter(QObject* watched, QEvent* event)
{
    for (qsizetype i = 0; i < lists_.size(); ++i) {
        if (watched == lists_[i] && event->type() == QEvent::KeyPress)
            return listKeyPress(static_cast<QKeyEvent*>(event));
        if (watched == viewports_[i])
            return viewportEvent(lists_[i], event);
    }
    return false;
}

bool cPairTable::listKeyPress(QKeyEvent* event)
{
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit editRequested();
        return true;
    case Qt::Key_Delete:
        emit deleteRequested();
        return true;
    default:
        return false;
    }
}

bool cPairTable::viewportEvent(QListWidget* list, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A list box keeps its selection when the click misses every row; an open editor
        // would otherwise lose the pair it edits.
        return !list->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid();
    case QEvent::ToolTip: {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QListWidgetItem* item = list->itemAt(help->pos());
        const QRect row = item ? list->visualItemRect(item) : QRect();
        const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list);
        // Rows share one measured width, so the text itself says whether it is cut.
        const bool cut =
            item && (row.left() < 0 || row.left() + 2 * (margin + 1) +
                                               list->fontMetrics().horizontalAdvance(item->text()) >
                                           list->viewport()->width());
        if (cut)
            QToolTip::showText(help->globalPos(), item->text(), list->viewport(), row);
        else
            QToolTip::hideText();
        return true;
    }
    default:
        return false;
    }
}
