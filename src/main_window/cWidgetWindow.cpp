#include "cWidgetWindow.h"

#include <QScreen>
#include <QWidget>
#include <cmath>

namespace {

constexpr double kTwipsPerInch = 1440.0;

int toPixels(double twips, double twipsPerPixel)
{
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

} // namespace

double cWidgetWindow::twipsPerPixelX() const
{
    return kTwipsPerInch / window_.logicalDpiX();
}
double cWidgetWindow::twipsPerPixelY() const
{
    return kTwipsPerInch / window_.logicalDpiY();
}

double cWidgetWindow::Left() const
{
    return window_.frameGeometry().x() * twipsPerPixelX();
}
double cWidgetWindow::Top() const
{
    return window_.frameGeometry().y() * twipsPerPixelY();
}
double cWidgetWindow::Width() const
{
    return window_.frameGeometry().width() * twipsPerPixelX();
}
double cWidgetWindow::Height() const
{
    return window_.frameGeometry().height() * twipsPerPixelY();
}

std::int16_t cWidgetWindow::WindowState() const
{
    if (window_.isMinimized())
        return vbMinimized;
    return window_.isMaximized() ? vbMaximized : vbNormal;
}

void cWidgetWindow::setWindowState(std::int16_t state)
{
    const Qt::WindowStates others =
        window_.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == vbMinimized)
        window_.setWindowState(others | Qt::WindowMinimized);
    else if (state == vbMaximized)
        window_.setWindowState(others | Qt::WindowMaximized);
    else
        window_.setWindowState(others);
}

void cWidgetWindow::Move(double left, double top, double width, double height)
{
    // Width and height are the frame's; the client area is smaller by the frame itself.
    const QSize frame = window_.frameGeometry().size() - window_.geometry().size();
    window_.move(toPixels(left, twipsPerPixelX()), toPixels(top, twipsPerPixelY()));
    window_.resize(toPixels(width, twipsPerPixelX()) - frame.width(),
                   toPixels(height, twipsPerPixelY()) - frame.height());
}

cScreenMetrics cWidgetWindow::Screen() const
{
    const QSize size = window_.screen()->size();
    return {size.width() * twipsPerPixelX(), size.height() * twipsPerPixelY(), twipsPerPixelX(),
            twipsPerPixelY()};
}
