#include "platform/hittest.h"

namespace platform {

HitRegion resizeRegion(int x, int y, const FrameRect &window, int borderWidth, bool resizeable,
                       const SizeLimits &limits)
{
    HitRegion region = HitRegion::NotHandled;
    if (!resizeable)
        return region;

    const bool widthChanges = limits.minWidth != limits.maxWidth;
    const bool heightChanges = limits.minHeight != limits.maxHeight;
    const int w = borderWidth;
    const bool left = x >= window.left && x < window.left + w;
    const bool right = x >= window.right - w && x < window.right;
    const bool top = y >= window.top && y < window.top + w;
    const bool bottom = y >= window.bottom - w && y < window.bottom;

    if (widthChanges) {
        if (left)
            region = HitRegion::Left;
        if (right)
            region = HitRegion::Right;
    }
    if (heightChanges) {
        if (bottom)
            region = HitRegion::Bottom;
        if (top)
            region = HitRegion::Top;
    }
    if (widthChanges && heightChanges) {
        if (left && bottom)
            region = HitRegion::BottomLeft;
        if (right && bottom)
            region = HitRegion::BottomRight;
        if (left && top)
            region = HitRegion::TopLeft;
        if (right && top)
            region = HitRegion::TopRight;
    }
    return region;
}

HitRegion hitTest(int x, int y, const FrameRect &window, int borderWidth, bool resizeable,
                  const SizeLimits &limits, bool overCaption)
{
    const HitRegion region = resizeRegion(x, y, window, borderWidth, resizeable, limits);
    if (region != HitRegion::NotHandled)
        return region;
    return overCaption ? HitRegion::Caption : HitRegion::NotHandled;
}

bool isResizeRegion(HitRegion region)
{
    return region != HitRegion::NotHandled && region != HitRegion::Caption;
}

} // namespace platform
