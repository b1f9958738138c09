#include "platform/win32/nativeframe.h"

#include <dwmapi.h>

namespace platform::win32 {

LONG windowStyle(HWND window)
{
    return window ? GetWindowLongW(window, GWL_STYLE) : 0;
}

bool setWindowStyle(HWND window, LONG style)
{
    if (!window)
        return false;
    // SetWindowLongW answers the previous value, which may be 0: only the last error tells.
    SetLastError(ERROR_SUCCESS);
    return SetWindowLongW(window, GWL_STYLE, style) != 0 || GetLastError() == ERROR_SUCCESS;
}

bool isCompositionEnabled()
{
    BOOL enabled = FALSE;
    return SUCCEEDED(DwmIsCompositionEnabled(&enabled)) && enabled;
}

HRESULT setNonClientRendering(HWND window, bool enabled)
{
    const DWORD policy = enabled ? DWMNCRP_ENABLED : DWMNCRP_DISABLED;
    return DwmSetWindowAttribute(window, DWMWA_NCRENDERING_POLICY, &policy, sizeof policy);
}

HRESULT extendFrameIntoClientArea(HWND window, int left, int top, int right, int bottom)
{
    const MARGINS margins = { left, right, top, bottom };
    return DwmExtendFrameIntoClientArea(window, &margins);
}

bool windowRect(HWND window, WindowRect &rect)
{
    RECT native;
    if (!window || !GetWindowRect(window, &native))
        return false;
    rect = { native.left, native.top, native.right, native.bottom };
    return true;
}

} // namespace platform::win32
