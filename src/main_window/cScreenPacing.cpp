#include "cScreenPacing.h"

#include <algorithm>

cScreenPacing::Delay cScreenPacing::afterDispatch(Clock::time_point now)
{
    if (!heldSince_)
        heldSince_ = now;
    Clock::time_point due = std::min(now + kQuiet, *heldSince_ + kMaxHeld);
    if (lastShown_)
        due = std::max(due, *lastShown_ + kFrame);
    return std::max(Delay::zero(), std::chrono::ceil<Delay>(due - now));
}

void cScreenPacing::shown(Clock::time_point now)
{
    heldSince_.reset();
    lastShown_ = now;
}
