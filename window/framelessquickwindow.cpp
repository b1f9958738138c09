#include "window/framelessquickwindow.h"

#include "platform/windowframe.h"
#include "window/titlebarhit.h"

#include <QCursor>
#include <QMouseEvent>
#include <QQuickItem>
#include <QScopedValueRollback>
#include <QTimer>
#include <QtMath>

namespace {

constexpr int ShadowUpdateDelayMs = 100;

Qt::Edges edgesOf(platform::HitRegion region)
{
    switch (region) {
    case platform::HitRegion::Left:
        return Qt::LeftEdge;
    case platform::HitRegion::Right:
        return Qt::RightEdge;
    case platform::HitRegion::Top:
        return Qt::TopEdge;
    case platform::HitRegion::Bottom:
        return Qt::BottomEdge;
    case platform::HitRegion::TopLeft:
        return Qt::TopEdge | Qt::LeftEdge;
    case platform::HitRegion::TopRight:
        return Qt::TopEdge | Qt::RightEdge;
    case platform::HitRegion::BottomLeft:
        return Qt::BottomEdge | Qt::LeftEdge;
    case platform::HitRegion::BottomRight:
        return Qt::BottomEdge | Qt::RightEdge;
    case platform::HitRegion::NotHandled:
    case platform::HitRegion::Caption:
        break;
    }
    return {};
}

} // namespace

FramelessQuickWindow::FramelessQuickWindow(QWindow *parent)
    : QQuickView(parent)
{
    setFlags(flags() | Qt::FramelessWindowHint);
    connect(this, &FramelessQuickWindow::needShadowChanged, this,
            &FramelessQuickWindow::updateShadow);
    // QWindow announces every assignment, even of the same parent, with the parent as argument;
    // the scenes are told of actual changes only.
    connect(this, qOverload<QWindow *>(&QWindow::transientParentChanged), this,
            [this](QWindow *parent) {
                if (m_lastTransientParent == parent)
                    return;
                m_lastTransientParent = parent;
                emit transientParentChanged();
            });
    connect(this, qOverload<>(&FramelessQuickWindow::transientParentChanged), this,
            &FramelessQuickWindow::parentWinChanged);
}

FramelessQuickWindow::~FramelessQuickWindow() = default;

void FramelessQuickWindow::setNeedShadow(bool needShadow)
{
    if (m_needShadow == needShadow)
        return;
    m_needShadow = needShadow;
    emit needShadowChanged();
}

void FramelessQuickWindow::setTitleBar(QQuickItem *item)
{
    if (m_titleBar == item)
        return;
    disconnect(m_titleBarWatch);
    m_titleBar = item;
    emit titleBarChanged();
    if (!item)
        return;
    m_titleBarWatch = connect(item, &QObject::destroyed, this, [this, item] {
        if (m_titleBar != item)
            return;
        m_titleBar = nullptr;
        emit titleBarChanged();
    });
}

void FramelessQuickWindow::setResizeable(bool resizeable)
{
    if (m_resizeable == resizeable)
        return;
    m_resizeable = resizeable;
    emit resizeableChanged();
}

void FramelessQuickWindow::setBorderWidth(int borderWidth)
{
    if (m_borderWidth == borderWidth)
        return;
    m_borderWidth = borderWidth;
    emit borderWidthChanged();
}

void FramelessQuickWindow::addIgnore(QQuickItem *item)
{
    m_ignored.removeAll(nullptr);
    if (item && !m_ignored.contains(item))
        m_ignored.append(item);
}

platform::HitRegion FramelessQuickWindow::hitTest(const QPoint &screenPos,
                                                  const QPointF &windowPos) const
{
    const platform::SizeLimits limits { minimumWidth(), maximumWidth(), minimumHeight(),
                                        maximumHeight() };
    const platform::HitRegion region = platform::resizeRegion(
        screenPos.x(), screenPos.y(), platform::windowFrameOps().windowRect(this), m_borderWidth,
        m_resizeable, limits);
    if (region != platform::HitRegion::NotHandled)
        return region;
    return isOverCaption(m_titleBar, windowPos, m_ignored) ? platform::HitRegion::Caption
                                                           : platform::HitRegion::NotHandled;
}

bool FramelessQuickWindow::close()
{
    const QScopedValueRollback<bool> byCall(m_closingByCall, true);
    return QQuickView::close();
}

bool FramelessQuickWindow::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    const platform::FrameMessage frameMessage
        = platform::windowFrameOps().decodeMessage(eventType, message);
    switch (frameMessage.kind) {
    case platform::FrameMessage::ShowWindow:
    case platform::FrameMessage::SystemCommand:
        scheduleShadowUpdate();
        break;
    case platform::FrameMessage::SystemClose:
        if (requestCloseAll()) {
            *result = 0;
            return true;
        }
        break;
    case platform::FrameMessage::HitTest: {
        // The cursor, not the message's point: the title bar test works in window coordinates.
        const platform::HitRegion region
            = hitTest({ frameMessage.x, frameMessage.y }, mapFromGlobal(QCursor::pos()));
        if (region == platform::HitRegion::NotHandled)
            return false;
        *result = static_cast<long>(region);
        return true;
    }
    case platform::FrameMessage::Other:
        break;
    }
    return QQuickView::nativeEvent(eventType, message, result);
}

bool FramelessQuickWindow::event(QEvent *event)
{
    // Where the frame's messages arrive natively, nativeEvent() sees these already.
    if (!platform::windowFrameOps().hasNativeFrameMessages()) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            scheduleShadowUpdate();
            break;
        case QEvent::Close:
            if (!m_closingByCall && requestCloseAll()) {
                event->ignore();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QQuickView::event(event);
}

void FramelessQuickWindow::mousePressEvent(QMouseEvent *event)
{
    platform::WindowFrameOps &ops = platform::windowFrameOps();
    if (!ops.hasNativeFrameMessages() && event->button() == Qt::LeftButton) {
        const QPointF screen = event->screenPos() * devicePixelRatio();
        const platform::HitRegion region
            = hitTest({ qFloor(screen.x()), qFloor(screen.y()) }, event->localPos());
        bool started = false;
        if (region == platform::HitRegion::Caption)
            started = ops.startSystemMove(this);
        else if (platform::isResizeRegion(region))
            started = ops.startSystemResize(this, edgesOf(region));
        // When the window system cannot move or resize, the scene still gets the press.
        if (started) {
            event->accept();
            return;
        }
    }
    QQuickView::mousePressEvent(event);
}

void FramelessQuickWindow::updateShadow()
{
    platform::WindowFrameOps &ops = platform::windowFrameOps();
    const WId handle = ops.nativeHandle(this);
    if (!handle)
        return;
    const quint32 style = ops.windowStyle(handle);
    ops.setWindowStyle(handle,
                       m_needShadow ? style | platform::MinimizeBoxStyle
                                    : style & ~platform::MinimizeBoxStyle);
    if (!ops.compositionEnabled())
        return;
    ops.setNonClientRendering(handle, m_needShadow);
    ops.extendFrameIntoClientArea(this, 1, 1, 1, 1);
}

void FramelessQuickWindow::scheduleShadowUpdate()
{
    QTimer::singleShot(ShadowUpdateDelayMs, this, &FramelessQuickWindow::updateShadow);
}

// The scene that listens to closeAll() closes the window itself (after its own clean-up), so
// the request is then answered as handled; a window whose scene does not listen closes as usual.
// The main scene's clean-up waits for the usage upload in a nested event loop, where a second
// close request (Alt+F4 again) can arrive: it is answered as handled without running the
// clean-up again, which would close the window under the upload.
bool FramelessQuickWindow::requestCloseAll()
{
    if (m_handlingCloseRequest)
        return true;
    const QScopedValueRollback<bool> handling(m_handlingCloseRequest, true);
    emit closeAll();
    static const QMetaMethod closeAllSignal
        = QMetaMethod::fromSignal(&FramelessQuickWindow::closeAll);
    return isSignalConnected(closeAllSignal);
}
