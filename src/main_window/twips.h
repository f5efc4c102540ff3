#pragma once

#include <QRect>
#include <QWidget>

// Windows are designed in twips (1/1440 inch): 15 twips a pixel at 96 dots per inch. The
// screen's logical resolution turns them into pixels, so a window keeps its proportions on a
// high-resolution screen.
struct TwipRect {
    int left;
    int top;
    int width;
    int height;
};

inline int twipsToPixels(int twips, int dotsPerInch)
{
    return (twips * dotsPerInch + 720) / 1440;
}

inline QRect twipsToPixels(const TwipRect& r, int dotsPerInch)
{
    return QRect(twipsToPixels(r.left, dotsPerInch), twipsToPixels(r.top, dotsPerInch),
                 twipsToPixels(r.width, dotsPerInch), twipsToPixels(r.height, dotsPerInch));
}

// The controls were sized for a narrow 8-point interface font; the desktop's usual font is
// wider, so it is condensed to let every caption fit its control.
inline void useDesignFont(QWidget* window)
{
    QFont font = window->font();
    font.setPointSize(8);
    font.setStretch(80);
    window->setFont(font);
}

// Creates a child control with its mandated object name at a position given in twips.
template <typename Control, typename... Args>
Control* placeControl(QWidget* parent, const char* name, const TwipRect& r, Args&&... args)
{
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(twipsToPixels(r, parent->logicalDpiX()));
    return control;
}
