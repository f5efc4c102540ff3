#include "cClock.h"

#include <algorithm>
#include <ctime>

// Every voice string is logged on its way to its command. Qt's local time takes several times
// as long as the C library's, most of it in code that is cold after a pause; the time zone is
// looked up again at most once a second, so that a change of the system's zone still shows.
cClock::Reading cClock::now() const
{
    timespec wall{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    const auto monotonic = std::chrono::steady_clock::now();
    if (monotonic - zoneLookedUp_ >= std::chrono::seconds(1)) {
        ::tzset();
        zoneLookedUp_ = monotonic;
    }
    tm local{};
    ::localtime_r(&wall.tv_sec, &local);
    // A leap second is shown as the second before it: a time of day has no 60th second.
    return {QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
            QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                  static_cast<int>(wall.tv_nsec / 1000000))};
}
