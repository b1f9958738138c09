#pragma once

#include <QList>
#include <QPointF>
#include <QPointer>

class QQuickItem;

// Whether the point (window coordinates) lies on the caption part of the title bar: inside the
// title bar and not on one of its visible direct children, unless that child is in ignored.
// Children such as buttons keep their mouse input; a gap between them drags the window.
bool isOverCaption(const QQuickItem *titleBar, const QPointF &windowPos,
                   const QList<QPointer<QQuickItem>> &ignored);
