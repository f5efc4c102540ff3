#include "list_selection.h"

#include <QListWidget>

int selectedRow(const QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

QString selectedText(const QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void setSelectedRow(QListWidget* list, int row)
{
    if (selectedRow(list) == row)
        return;
    if (row < 0 || row >= list->count())
        list->clearSelection();
    else
        list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

QString rowText(const QListWidget* list, int row)
{
    return row >= 0 && row < list->count() ? list->item(row)->text() : QString();
}

bool rowHolds(const QListWidget* list, int row, const QString& text)
{
    return row >= 0 && row < list->count() && list->item(row)->text() == text;
}
