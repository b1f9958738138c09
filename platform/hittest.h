#pragma once

// The frame's hit-test rule: which part of a frameless window a point falls on.
// Plain standard C++ so that the Windows build compiles it without Qt. The region codes carry
// the numeric values of the Windows WM_NCHITTEST answers (HTCAPTION, HTLEFT, ...).
namespace platform {

enum class HitRegion : int {
    // HTNOWHERE's value. Never answered as handled: the point is ordinary client area and the
    // press goes to the scene.
    NotHandled = 0,
    Caption = 2,
    Left = 10,
    Right = 11,
    Top = 12,
    TopLeft = 13,
    TopRight = 14,
    Bottom = 15,
    BottomLeft = 16,
    BottomRight = 17,
};

// Window rectangle in screen coordinates; right and bottom lie just outside the window.
struct FrameRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct SizeLimits
{
    int minWidth = 0;
    int maxWidth = 0;
    int minHeight = 0;
    int maxHeight = 0;
};

// Resize region of the point (x, y), or NotHandled. A window resizes along an axis only when
// its minimum and maximum differ on that axis; the bands are borderWidth wide inside the
// rectangle. Where bands overlap (corners, windows narrower than two bands) the later rule
// wins: right over left, top over bottom, then the corners.
HitRegion resizeRegion(int x, int y, const FrameRect &window, int borderWidth, bool resizeable,
                       const SizeLimits &limits);

// Full rule: a resize region when there is one, else Caption when the title bar answered that
// the point is caption (overCaption), else NotHandled. Resize bands win over the title bar.
HitRegion hitTest(int x, int y, const FrameRect &window, int borderWidth, bool resizeable,
                  const SizeLimits &limits, bool overCaption);

bool isResizeRegion(HitRegion region);

} // namespace platform
