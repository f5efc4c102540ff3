#pragma once

#include "settings/cPlaceableWindow.h"

class QWidget;

// A real top-level Qt window as cIniFile's window-placement members see it: its frame's
// position and size in twips, through the logical resolution of the screen it is on.
class cWidgetWindow : public cPlaceableWindow {
public:
    explicit cWidgetWindow(QWidget& window) : window_(window) {}

    double Left() const override;
    double Top() const override;
    double Width() const override;
    double Height() const override;
    std::int16_t WindowState() const override;
    void setWindowState(std::int16_t state) override;
    void Move(double left, double top, double width, double height) override;
    cScreenMetrics Screen() const override;

private:
    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

    QWidget& window_;
};
