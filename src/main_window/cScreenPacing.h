#pragma once

#include <chrono>
#include <optional>

// When the window catches up with the strings dispatched meanwhile. Laying out and painting the
// log takes longer than starting a command, and a string that arrives during a paint waits for
// it, so the screen is updated once strings have stopped coming for a moment; at most once a
// frame; and, while they keep coming, still a few times a second.
class cScreenPacing {
public:
    using Clock = std::chrono::steady_clock;
    using Delay = std::chrono::milliseconds;

    static constexpr Delay kQuiet{8};
    static constexpr Delay kFrame{16};
    static constexpr Delay kMaxHeld{100};

    // A string was dispatched at `now` and its lines are held: how long from now to update.
    Delay afterDispatch(Clock::time_point now);
    // The screen was updated at `now`.
    void shown(Clock::time_point now);

private:
    std::optional<Clock::time_point> heldSince_;
    std::optional<Clock::time_point> lastShown_;
};
