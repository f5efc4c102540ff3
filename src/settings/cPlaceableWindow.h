#pragma once

#include "runtime/cRaisedError.h"

#include <cstdint>

// The size of the screen a window is on, in twips, and how many twips make a pixel.
struct cScreenMetrics {
    double width;
    double height;
    double twipsPerPixelX;
    double twipsPerPixelY;
};

// What cIniFile's window-placement members need of a window: its outer position and size in
// twips, its state (0 normal, 1 minimised, 2 maximised), a way to move it, and its screen.
// A member that a window does not offer raises an error, as a window lacking it would.
class cPlaceableWindow {
public:
    enum State : std::int16_t { vbNormal = 0, vbMinimized = 1, vbMaximized = 2 };

    virtual ~cPlaceableWindow() = default;

    virtual double Left() const { throw missing("Left"); }
    virtual double Top() const { throw missing("Top"); }
    virtual double Width() const { throw missing("Width"); }
    virtual double Height() const { throw missing("Height"); }
    virtual std::int16_t WindowState() const { throw missing("WindowState"); }
    virtual void setWindowState(std::int16_t) { throw missing("WindowState"); }
    virtual void Move(double, double, double, double) { throw missing("Move"); }
    virtual cScreenMetrics Screen() const { throw missing("Screen"); }

private:
    static cRaisedError missing(const char* member)
    {
        return cRaisedError(438,
                            QStringLiteral("Object doesn't support this property or method: ") +
                                QLatin1String(member));
    }
};
