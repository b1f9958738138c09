// The frame operations on Windows: native messages arrive through the window's message hook,
// and the style, shadow and frame calls go to win32/.
#include "platform/windowframe.h"

#include "platform/win32/framemessage.h"
#include "platform/win32/nativeframe.h"

#include <windows.h>

namespace platform {

namespace {

HWND hwnd(WId handle)
{
    return reinterpret_cast<HWND>(handle);
}

FrameMessage::Kind kindOf(win32::FrameMessage::Kind kind)
{
    switch (kind) {
    case win32::FrameMessage::ShowWindow:
        return FrameMessage::ShowWindow;
    case win32::FrameMessage::SystemClose:
        return FrameMessage::SystemClose;
    case win32::FrameMessage::SystemCommand:
        return FrameMessage::SystemCommand;
    case win32::FrameMessage::HitTest:
        return FrameMessage::HitTest;
    case win32::FrameMessage::Other:
        break;
    }
    return FrameMessage::Other;
}

class WindowsFrameOps final : public WindowFrameOps
{
public:
    bool hasNativeFrameMessages() const override { return true; }

    FrameMessage decodeMessage(const QByteArray &eventType, void *message) const override
    {
        if (!message || eventType != "windows_generic_MSG")
            return {};
        const MSG *native = static_cast<const MSG *>(message);
        const win32::FrameMessage decoded
            = win32::decodeFrameMessage(native->message, native->wParam, native->lParam);
        FrameMessage frameMessage;
        frameMessage.kind = kindOf(decoded.kind);
        frameMessage.x = decoded.x;
        frameMessage.y = decoded.y;
        return frameMessage;
    }

    WId nativeHandle(QWindow *window) override { return window ? window->winId() : 0; }
    quint32 windowStyle(WId handle) const override
    {
        return static_cast<quint32>(win32::windowStyle(hwnd(handle)));
    }
    void setWindowStyle(WId handle, quint32 style) override
    {
        win32::setWindowStyle(hwnd(handle), static_cast<LONG>(style));
    }
    bool compositionEnabled() const override { return win32::isCompositionEnabled(); }
    void setNonClientRendering(WId handle, bool enabled) override
    {
        win32::setNonClientRendering(hwnd(handle), enabled);
    }
    void extendFrameIntoClientArea(QWindow *window, int left, int top, int right,
                                   int bottom) override
    {
        if (window)
            win32::extendFrameIntoClientArea(hwnd(window->winId()), left, top, right, bottom);
    }

    FrameRect windowRect(const QWindow *window) const override
    {
        win32::WindowRect rect;
        if (!window || !win32::windowRect(hwnd(window->winId()), rect))
            return {};
        return { rect.left, rect.top, rect.right, rect.bottom };
    }
    // Moves and resizes start from the hit-test answers; these are for platforms without them.
    bool startSystemMove(QWindow *window) override { return window->startSystemMove(); }
    bool startSystemResize(QWindow *window, Qt::Edges edges) override
    {
        return window->startSystemResize(edges);
    }
};

WindowsFrameOps platformOps;
WindowFrameOps *installedOps = nullptr;

} // namespace

WindowFrameOps &windowFrameOps()
{
    return installedOps ? *installedOps : platformOps;
}

void setWindowFrameOps(WindowFrameOps *ops)
{
    installedOps = ops;
}

} // namespace platform
