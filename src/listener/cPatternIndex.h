#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QListWidget;

// The first row of each speech pattern in a list, so that a voice string finds its pair without
// a walk through a long table. It is rebuilt on the first look-up after the list changed.
class cPatternIndex : public QObject {
    Q_OBJECT

public:
    explicit cPatternIndex(QListWidget* patterns);

    // The first row whose text equals the pattern exactly, or -1.
    int firstRow(const QString& pattern);

private:
    QListWidget* patterns_;
    QHash<QString, int> firstRows_;
    bool current_ = false;
};
