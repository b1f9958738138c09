#pragma once

#include "platform/hittest.h"

#include <QPointer>
#include <QQuickView>

class QQuickItem;

// Top-level window type of every scene: a Qt Quick view without the system frame. The scene
// names the item that drags the window (titleBar, with exceptions added by addIgnore) and,
// when resizeable, the width of the resize bands along the edges.
class FramelessQuickWindow : public QQuickView
{
    Q_OBJECT
    Q_PROPERTY(bool activity READ isActive NOTIFY activeChanged)
    Q_PROPERTY(bool needShadow READ needShadow WRITE setNeedShadow NOTIFY needShadowChanged)
    Q_PROPERTY(QQuickItem *titleBar READ titleBar WRITE setTitleBar NOTIFY titleBarChanged)
    Q_PROPERTY(bool resizeable READ resizeable WRITE setResizeable NOTIFY resizeableChanged)
    Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth NOTIFY borderWidthChanged)
    Q_PROPERTY(QWindow *parentWin READ transientParent WRITE setTransientParent NOTIFY
                   transientParentChanged)
public:
    explicit FramelessQuickWindow(QWindow *parent = nullptr);
    ~FramelessQuickWindow() override;

    bool needShadow() const { return m_needShadow; }
    void setNeedShadow(bool needShadow);
    QQuickItem *titleBar() const { return m_titleBar; }
    void setTitleBar(QQuickItem *item);
    bool resizeable() const { return m_resizeable; }
    void setResizeable(bool resizeable);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int borderWidth);

    Q_INVOKABLE void addIgnore(QQuickItem *item);

    // Frame region under a point: screenPos in device pixels for the resize bands, windowPos
    // in window coordinates for the title bar.
    platform::HitRegion hitTest(const QPoint &screenPos, const QPointF &windowPos) const;

public slots:
    // Hides QWindow::close() so that a close asked for by the scene or the program is told
    // apart from the window system's close request, which emits closeAll() instead.
    bool close();

signals:
    void parentWinChanged();
    void titleBarChanged();
    void resizeableChanged();
    void needShadowChanged();
    void borderWidthChanged();
    void transientParentChanged();
    void closeAll();

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void updateShadow();
    void scheduleShadowUpdate();
    bool requestCloseAll();

    int m_borderWidth = 0;
    bool m_needShadow = true;
    bool m_resizeable = false;
    bool m_closingByCall = false;
    bool m_handlingCloseRequest = false;
    QQuickItem *m_titleBar = nullptr;
    QMetaObject::Connection m_titleBarWatch;
    QPointer<QWindow> m_lastTransientParent;
    // Guarded: an item destroyed by its scene must not live on here, where a new item created at
    // the same address would be taken for it.
    QList<QPointer<QQuickItem>> m_ignored;
};
