#pragma once

#include <QList>
#include <QObject>

class QKeyEvent;
class QListWidget;

// Makes the three index-aligned pair lists read as one table: their rows scroll together
// whichever list is scrolled, a click below the last row keeps the selection, a row cut at the
// list's edge shows its whole text as a tooltip, and keys and double-clicks on a row ask for
// the pair to be edited or deleted.
class cPairTable : public QObject {
    Q_OBJECT

public:
    cPairTable(QList<QListWidget*> lists, QObject* parent);

signals:
    // Enter, Return or a double-click on a row.
    void editRequested();
    // The Delete key in one of the lists.
    void deleteRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followVertical(const QListWidget* source, int firstRow);
    // A horizontal scroll bar shortens a list's viewport, and so its scroll range; every list
    // shows one when any needs one, so that all can reach the same first row.
    void matchHorizontalBars();
    bool listKeyPress(QKeyEvent* event);
    bool viewportEvent(QListWidget* list, QEvent* event);

    QList<QListWidget*> lists_;
    // Kept apart from the lists: events still reach a viewport while its list is being
    // destroyed, when asking the list for its viewport is no longer valid.
    QList<QObject*> viewports_;
    int firstRow_ = 0;
    bool following_ = false;
};
