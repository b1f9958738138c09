#pragma once

#include <windows.h>

// The native window calls behind a frameless window's shadow and minimise behaviour. The
// window decides when to make them; these only make them.
namespace platform::win32 {

// GWL_STYLE of the window; 0 when there is no such window.
LONG windowStyle(HWND window);
// False when there is no window or the style cannot be written.
bool setWindowStyle(HWND window, LONG style);

// Whether desktop composition, and with it the system shadow, is available.
bool isCompositionEnabled();

// DWMWA_NCRENDERING_POLICY: DWMNCRP_ENABLED lets the system draw the non-client area (and so
// the shadow of a frameless window), DWMNCRP_DISABLED stops it.
HRESULT setNonClientRendering(HWND window, bool enabled);

HRESULT extendFrameIntoClientArea(HWND window, int left, int top, int right, int bottom);

struct WindowRect
{
    int left = 0;
    int top = 0;
    int right = 0; // just outside the window
    int bottom = 0; // just outside the window
};

// The whole window in screen coordinates; false when the system has no rectangle for it.
bool windowRect(HWND window, WindowRect &rect);

} // namespace platform::win32
