#include "window/titlebarhit.h"

#include <QQuickItem>

bool isOverCaption(const QQuickItem *titleBar, const QPointF &windowPos,
                   const QList<QPointer<QQuickItem>> &ignored)
{
    if (!titleBar)
        return false;
    const QPointF local = titleBar->mapFromScene(windowPos);
    if (!titleBar->contains(local))
        return false;
    QQuickItem *child = titleBar->childAt(local.x(), local.y());
    return !child || ignored.contains(child);
}
