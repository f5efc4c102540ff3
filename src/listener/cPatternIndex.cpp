#include "cPatternIndex.h"

#include <QAbstractItemModel>
#include <QListWidget>

cPatternIndex::cPatternIndex(QListWidget* patterns) : QObject(patterns), patterns_(patterns)
{
    const auto stale = [this] { current_ = false; };
    QAbstractItemModel* model = patterns->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, stale);
    connect(model, &QAbstractItemModel::rowsRemoved, this, stale);
    connect(model, &QAbstractItemModel::rowsMoved, this, stale);
    connect(model, &QAbstractItemModel::dataChanged, this, stale);
    connect(model, &QAbstractItemModel::modelReset, this, stale);
    connect(model, &QAbstractItemModel::layoutChanged, this, stale);
}

int cPatternIndex::firstRow(const QString& pattern)
{
    if (!current_) {
        firstRows_.clear();
        for (int row = patterns_->count() - 1; row >= 0; --row)
            firstRows_.insert(patterns_->item(row)->text(), row);
        current_ = true;
    }
    return firstRows_.value(pattern, -1);
}
