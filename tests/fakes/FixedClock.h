#pragma once

#include "main_window/cClock.h"

class FixedClock : public cClock {
public:
    Reading now() const override { return {date, time}; }

    QDate date{2005, 1, 31};
    QTime time{9, 5, 7};
};
