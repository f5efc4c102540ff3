#pragma once

#include <QDate>
#include <QTime>

// The wall clock, read separately for the date and the time of day; tests put a fixed one in.
class cClock {
public:
    virtual ~cClock() = default;
    virtual QDate currentDate() const { return QDate::currentDate(); }
    virtual QTime currentTime() const { return QTime::currentTime(); }
};
