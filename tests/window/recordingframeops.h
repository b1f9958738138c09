#pragma once

#include "platform/windowframe.h"

#include <QStringList>

// Records every frame operation the window asks for, in order, as short texts.
class RecordingFrameOps : public platform::WindowFrameOps
{
public:
    QStringList calls;
    WId handle = 42;
    quint32 style = 0x10000000;
    bool composition = true;
    bool systemAccepts = true;
    platform::FrameRect rect { 0, 0, 300, 200 };

    bool hasNativeFrameMessages() const override { return false; }
    platform::FrameMessage decodeMessage(const QByteArray &, void *) const override { return {}; }
    WId nativeHandle(QWindow *) override
    {
        calls << QStringLiteral("handle");
        return handle;
    }
    quint32 windowStyle(WId) const override { return style; }
    void setWindowStyle(WId, quint32 newStyle) override
    {
        style = newStyle;
        calls << QStringLiteral("style %1").arg(newStyle, 0, 16);
    }
    bool compositionEnabled() const override { return composition; }
    void setNonClientRendering(WId, bool enabled) override
    {
        calls << QStringLiteral("ncrendering %1").arg(enabled);
    }
    void extendFrameIntoClientArea(QWindow *, int l, int t, int r, int b) override
    {
        calls << QStringLiteral("extend %1 %2 %3 %4").arg(l).arg(t).arg(r).arg(b);
    }
    platform::FrameRect windowRect(const QWindow *) const override { return rect; }
    bool startSystemMove(QWindow *) override
    {
        calls << QStringLiteral("move");
        return systemAccepts;
    }
    bool startSystemResize(QWindow *, Qt::Edges edges) override
    {
        calls << QStringLiteral("resize %1").arg(int(edges));
        return systemAccepts;
    }
};
