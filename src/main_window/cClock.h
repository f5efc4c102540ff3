#pragma once

#include <QDate>
#include <QTime>
#include <chrono>

// The wall clock in local time; tests put a fixed one in.
class cClock {
public:
    struct Reading {
        QDate date;
        QTime time;
    };

    virtual ~cClock() = default;
    virtual Reading now() const;

private:
    mutable std::chrono::steady_clock::time_point zoneLookedUp_{};
};
