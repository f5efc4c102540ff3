#include "cIniFile.h"
#include "cPlaceableWindow.h"

#include <cmath>
#include <limits>

namespace {

constexpr int kOverflow = 6;

cRaisedError overflow()
{
    return cRaisedError(kOverflow, QStringLiteral("Overflow"));
}

// To the nearest 32-bit integer, a half to the even neighbour.
std::int32_t toInt32(double value)
{
    const double rounded = std::nearbyint(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max())
        throw overflow();
    return static_cast<std::int32_t>(rounded);
}

std::int32_t checkedSum(std::int32_t a, std::int32_t b)
{
    const std::int64_t sum = std::int64_t{a} + b;
    if (sum < std::numeric_limits<std::int32_t>::min() ||
        sum > std::numeric_limits<std::int32_t>::max())
        throw overflow();
    return static_cast<std::int32_t>(sum);
}

// Keeps [position, position + size) within the screen's extent less the margin at both ends,
// moving first and shrinking only what still does not fit.
void fitInto(std::int32_t& position, std::int32_t& size, double extent, double margin)
{
    if (checkedSum(position, size) <= extent - margin)
        return;
    position = toInt32(extent - margin - size);
    if (position < margin)
        position = toInt32(margin);
    if (checkedSum(position, size) > extent - margin)
        size = toInt32(extent - position - margin);
}

QString numberText(double value)
{
    return QString::number(value, 'g', 15);
}

} // namespace

void cIniFile::SaveFormPosition(const cPlaceableWindow& frmThis)
{
    const OptionalText savedKey = Key();
    try {
        const std::int16_t state = frmThis.WindowState();
        if (state != cPlaceableWindow::vbMinimized) {
            key_ = QStringLiteral("Maximised");
            setValue(state == cPlaceableWindow::vbMaximized ? QStringLiteral("1")
                                                            : QStringLiteral("0"));
        }
        if (state == cPlaceableWindow::vbNormal) {
            const std::pair<const char*, double (cPlaceableWindow::*)() const> edges[] = {
                {"Left", &cPlaceableWindow::Left},
                {"Top", &cPlaceableWindow::Top},
                {"Width", &cPlaceableWindow::Width},
                {"Height", &cPlaceableWindow::Height}};
            for (const auto& [name, read] : edges) {
                key_ = QLatin1String(name);
                setValue(numberText((frmThis.*read)()));
            }
        }
    } catch (const cRaisedError&) {
        lastReturnCode_ = 0;
    }
    key_ = savedKey;
}

void cIniFile::LoadFormPosition(cPlaceableWindow& frmThis, std::int32_t lMinWidth,
                                std::int32_t lMinHeight)
{
    const OptionalText savedKey = Key();
    const OptionalText savedDefault = Default();
    try {
        // A text that is no number, so that a missing key falls back to the window's value.
        default_ = QStringLiteral("FAIL");
        const auto stored = [this](const char* key, std::int32_t fallback) {
            key_ = QLatin1String(key);
            return CLngDefault(Value(), fallback);
        };
        std::int32_t left = stored("Left", toInt32(frmThis.Left()));
        std::int32_t top = stored("Top", toInt32(frmThis.Top()));
        std::int32_t width = stored("Width", toInt32(frmThis.Width()));
        if (width < lMinWidth)
            width = lMinWidth;
        std::int32_t height = stored("Height", toInt32(frmThis.Height()));
        if (height < lMinHeight)
            height = lMinHeight;

        const cScreenMetrics screen = frmThis.Screen();
        // Four pixels, not four twips.
        const double marginX = 4 * screen.twipsPerPixelX;
        const double marginY = 4 * screen.twipsPerPixelY;
        if (left < marginX)
            left = toInt32(marginX);
        if (top < marginY)
            top = toInt32(marginY);
        fitInto(left, width, screen.width, marginX);
        fitInto(top, height, screen.height, marginY);
        if (width >= lMinWidth && height >= lMinHeight)
            frmThis.Move(left, top, width, height);

        if (stored("Maximised", 0) != 0)
            frmThis.setWindowState(cPlaceableWindow::vbMaximized);
    } catch (const cRaisedError&) {
        lastReturnCode_ = 0;
    }
    key_ = savedKey;
    default_ = savedDefault;
}
