#include "platform/win32/framemessage.h"

namespace platform::win32 {

// The window answers WM_NCHITTEST with the region's value itself.
static_assert(int(HitRegion::NotHandled) == HTNOWHERE);
static_assert(int(HitRegion::Caption) == HTCAPTION);
static_assert(int(HitRegion::Left) == HTLEFT);
static_assert(int(HitRegion::Right) == HTRIGHT);
static_assert(int(HitRegion::Top) == HTTOP);
static_assert(int(HitRegion::TopLeft) == HTTOPLEFT);
static_assert(int(HitRegion::TopRight) == HTTOPRIGHT);
static_assert(int(HitRegion::Bottom) == HTBOTTOM);
static_assert(int(HitRegion::BottomLeft) == HTBOTTOMLEFT);
static_assert(int(HitRegion::BottomRight) == HTBOTTOMRIGHT);

FrameMessage decodeFrameMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    FrameMessage decoded;
    switch (message) {
    case WM_SHOWWINDOW:
        decoded.kind = FrameMessage::ShowWindow;
        break;
    case WM_SYSCOMMAND:
        // The command is compared whole, as the window has always done; the low four bits
        // are not masked off.
        decoded.kind = wParam == SC_CLOSE ? FrameMessage::SystemClose : FrameMessage::SystemCommand;
        break;
    case WM_NCHITTEST: {
        decoded.kind = FrameMessage::HitTest;
        // Signed 16-bit halves (GET_X_LPARAM, GET_Y_LPARAM): LOWORD/HIWORD would turn a
        // negative coordinate into a large positive one.
        const auto packed = static_cast<DWORD>(static_cast<DWORD_PTR>(lParam));
        decoded.x = static_cast<short>(LOWORD(packed));
        decoded.y = static_cast<short>(HIWORD(packed));
        break;
    }
    default:
        break;
    }
    return decoded;
}

} // namespace platform::win32
