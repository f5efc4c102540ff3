#pragma once

#include "main_window/cClock.h"

class FixedClock : public cClock {
public:
    QDate currentDate() const override { return date; }
    QTime currentTime() const override { return time; }

    QDate date{2005, 1, 31};
    QTime time{9, 5, 7};
};
