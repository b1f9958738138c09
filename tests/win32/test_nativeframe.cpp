// The shadow update's native calls, made in its order on a real hidden window: the minimise
// box set and cleared without touching other style bits, then the DWM requests accepted.
#include "harness.h"

#include "platform/win32/nativeframe.h"

using namespace platform::win32;

namespace {

HWND makeWindow(DWORD style)
{
    static const wchar_t *className = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VelnorFrameTest";
        RegisterClassW(&windowClass);
        return L"VelnorFrameTest";
    }();
    return CreateWindowExW(0, className, L"frame test", style, 10, 20, 300, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// One shadow update as the frameless window orders it; answers whether every step that ran
// was accepted.
bool shadowUpdate(HWND window, bool needShadow)
{
    const LONG style = windowStyle(window);
    const LONG wanted = needShadow ? (style | WS_MINIMIZEBOX) : (style & ~LONG(WS_MINIMIZEBOX));
    if (!setWindowStyle(window, wanted))
        return false;
    if (!isCompositionEnabled())
        return true;
    return SUCCEEDED(setNonClientRendering(window, needShadow))
        && SUCCEEDED(extendFrameIntoClientArea(window, 1, 1, 1, 1));
}

} // namespace

int wmain()
{
    // A frameless window's styles, with and without the system menu, and a framed one.
    for (const DWORD initial :
         { DWORD(WS_POPUP), DWORD(WS_POPUP | WS_SYSMENU), DWORD(WS_OVERLAPPEDWINDOW) }) {
        // Never shown: only the style bits and the calls' answers are looked at.
        HWND window = makeWindow(initial);
        CHECK(window != nullptr);
        if (!window)
            continue;
        const LONG before = windowStyle(window);
        CHECK((before & LONG(initial)) == LONG(initial));

        CHECK(shadowUpdate(window, true));
        CHECK_EQ(windowStyle(window), LONG(before | WS_MINIMIZEBOX));
        CHECK(shadowUpdate(window, false));
        CHECK_EQ(windowStyle(window), LONG(before & ~LONG(WS_MINIMIZEBOX)));
        CHECK(shadowUpdate(window, false));
        CHECK_EQ(windowStyle(window), LONG(before & ~LONG(WS_MINIMIZEBOX)));
        CHECK(shadowUpdate(window, true));
        CHECK_EQ(windowStyle(window), LONG(before | WS_MINIMIZEBOX));

        // The DWM requests on their own, whether or not composition is on.
        CHECK(SUCCEEDED(setNonClientRendering(window, true)));
        CHECK(SUCCEEDED(setNonClientRendering(window, false)));
        CHECK(SUCCEEDED(extendFrameIntoClientArea(window, 1, 1, 1, 1)));

        WindowRect rect;
        CHECK(windowRect(window, rect));
        CHECK_EQ(rect.left, 10);
        CHECK_EQ(rect.top, 20);
        CHECK_EQ(rect.right, 310);
        CHECK_EQ(rect.bottom, 220);

        DestroyWindow(window);
        // A window that is gone: no style, nothing written, no rectangle.
        CHECK_EQ(windowStyle(window), LONG(0));
        CHECK(!setWindowStyle(window, WS_POPUP));
        CHECK(!windowRect(window, rect));
    }
    WindowRect none;
    CHECK(!windowRect(nullptr, none));
    CHECK(!setWindowStyle(nullptr, WS_POPUP));
    std::printf("composition %s\n", isCompositionEnabled() ? "on" : "off");

    return harness::summary();
}
