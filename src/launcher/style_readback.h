#pragma once

#include <cstdint>

// A started program's window as the desktop tells it once a style was asked for.
struct StyledWindow {
    bool minimized = false;
    bool maximized = false;
    bool active = false;
    bool unlisted = false;  // off the task bar and the window switcher
    bool focusKept = false; // the window that had the focus has it (again), or there was none
};

// Whether the window shows the style it was given: 0 minimised and unlisted, 2 and 6 minimised,
// for all three with the focus back where it was (a minimised window cannot hold it); 1 active;
// 3 maximised and active; 4 neither minimised nor active, the focus kept.
bool showsStyle(std::int16_t windowStyle, const StyledWindow& window);
