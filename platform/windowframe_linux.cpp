#include "platform/windowframe.h"

namespace platform {

namespace {

// X11 and Wayland have no style bits, composition switch or frame extension for a client to
// set: the compositor decides about shadows. Moves and resizes are asked of the window
// manager on a press.
class LinuxWindowFrameOps final : public WindowFrameOps
{
public:
    bool hasNativeFrameMessages() const override { return false; }
    FrameMessage decodeMessage(const QByteArray &, void *) const override { return {}; }
    WId nativeHandle(QWindow *) override { return 0; }
    quint32 windowStyle(WId) const override { return 0; }
    void setWindowStyle(WId, quint32) override { }
    bool compositionEnabled() const override { return false; }
    void setNonClientRendering(WId, bool) override { }
    void extendFrameIntoClientArea(QWindow *, int, int, int, int) override { }

    FrameRect windowRect(const QWindow *window) const override
    {
        const QRect r = window->geometry();
        const qreal ratio = window->devicePixelRatio();
        return { qRound(r.left() * ratio), qRound(r.top() * ratio), qRound((r.right() + 1) * ratio),
                 qRound((r.bottom() + 1) * ratio) };
    }
    bool startSystemMove(QWindow *window) override { return window->startSystemMove(); }
    bool startSystemResize(QWindow *window, Qt::Edges edges) override
    {
        return window->startSystemResize(edges);
    }
};

LinuxWindowFrameOps platformOps;
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
