#pragma once

#include "platform/hittest.h"

#include <QByteArray>
#include <QWindow>

// The window system's frame facilities that a frameless window needs: the native style's
// minimise box, the system-drawn shadow, and the way moves and resizes reach the system.
// The window decides when to call them; each platform says what they do (nothing, where the
// system has no such thing). Tests install a recording double with setWindowFrameOps().
namespace platform {

// A native message that the frame logic reacts to, decoded from the window's message hook.
struct FrameMessage
{
    enum Kind { Other, ShowWindow, SystemClose, SystemCommand, HitTest };
    Kind kind = Other;
    // Screen position of a hit test, in device pixels.
    int x = 0;
    int y = 0;
};

class WindowFrameOps
{
public:
    virtual ~WindowFrameOps() = default;

    // True where hit tests, show/hide and close commands arrive as native messages; false
    // where the window derives them from Qt's events and moves/resizes by system requests.
    virtual bool hasNativeFrameMessages() const = 0;
    virtual FrameMessage decodeMessage(const QByteArray &eventType, void *message) const = 0;

    // Native handle of the window, created on demand; 0 when there is none to adjust.
    virtual WId nativeHandle(QWindow *window) = 0;
    virtual quint32 windowStyle(WId handle) const = 0;
    virtual void setWindowStyle(WId handle, quint32 style) = 0;
    virtual bool compositionEnabled() const = 0;
    // Whether the system draws the non-client area, and with it the shadow.
    virtual void setNonClientRendering(WId handle, bool enabled) = 0;
    virtual void extendFrameIntoClientArea(QWindow *window, int left, int top, int right,
                                           int bottom)
        = 0;

    // Window rectangle in screen device pixels (right and bottom exclusive).
    virtual FrameRect windowRect(const QWindow *window) const = 0;
    virtual bool startSystemMove(QWindow *window) = 0;
    virtual bool startSystemResize(QWindow *window, Qt::Edges edges) = 0;
};

// Style bit of a native window that keeps the minimise box and its animation.
constexpr quint32 MinimizeBoxStyle = 0x00020000;

// The platform's own operations, or the ones installed by setWindowFrameOps().
WindowFrameOps &windowFrameOps();
// Installs ops (not owned) for every window; nullptr restores the platform's own.
void setWindowFrameOps(WindowFrameOps *ops);

} // namespace platform
