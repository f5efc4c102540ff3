#pragma once

#include "settings/cPlaceableWindow.h"

#include <QList>
#include <QRectF>
#include <QString>

// A window for the placement members: any screen, any state, and one member it can lack, in
// which case the base class's version raises the error a window without it would.
class FakeWindow : public cPlaceableWindow {
public:
    double left = 1200, top = 900, width = 6000, height = 4000;
    std::int16_t state = vbNormal;
    cScreenMetrics screen{1024 * 15, 768 * 15, 15, 15};
    QList<QRectF> moves;
    QString lacking;

    double Left() const override { return lacks("Left") ? cPlaceableWindow::Left() : left; }
    double Top() const override { return lacks("Top") ? cPlaceableWindow::Top() : top; }
    double Width() const override { return lacks("Width") ? cPlaceableWindow::Width() : width; }
    double Height() const override { return lacks("Height") ? cPlaceableWindow::Height() : height; }
    std::int16_t WindowState() const override
    {
        return lacks("WindowState") ? cPlaceableWindow::WindowState() : state;
    }
    void setWindowState(std::int16_t s) override
    {
        if (lacks("WindowState"))
            cPlaceableWindow::setWindowState(s);
        state = s;
    }
    void Move(double l, double t, double w, double h) override
    {
        if (lacks("Move"))
            cPlaceableWindow::Move(l, t, w, h);
        moves.append(QRectF(l, t, w, h));
        left = l, top = t, width = w, height = h;
    }
    cScreenMetrics Screen() const override
    {
        return lacks("Screen") ? cPlaceableWindow::Screen() : screen;
    }

private:
    bool lacks(const char* member) const { return lacking == QLatin1String(member); }
};
