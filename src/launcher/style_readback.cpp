#include "style_readback.h"

bool showsStyle(std::int16_t windowStyle, const StyledWindow& window)
{
    switch (windowStyle) {
    case 0:
        return window.minimized && window.unlisted && window.focusKept;
    case 2:
    case 6:
        return window.minimized && window.focusKept;
    case 1:
        return window.active && !window.minimized;
    case 3:
        return window.maximized && window.active;
    case 4:
        return !window.minimized && !window.active && window.focusKept;
    }
    return false;
}
