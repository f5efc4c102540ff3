#pragma once

class QListWidget;
class QString;

// The row whose item is selected in a single-selection list, or -1.
int selectedRow(const QListWidget* list);
// The text of the selected row, or "" when none is selected.
QString selectedText(const QListWidget* list);
// Selects the row (-1 clears the selection); a list already on that row is left alone and so
// raises no selection change, which is what ends the chain of the three pair lists.
void setSelectedRow(QListWidget* list, int row);
// The text of the row, or "" when the list has no such row.
QString rowText(const QListWidget* list, int row);
// Whether the list has that row and it holds exactly that text.
bool rowHolds(const QListWidget* list, int row, const QString& text);
