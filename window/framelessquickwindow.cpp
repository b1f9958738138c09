#include "window/framelessquickwindow.h"

FramelessQuickWindow::FramelessQuickWindow(QWindow *parent)
    : QQuickView(parent)
{
    setFlags(flags() | Qt::FramelessWindowHint);
}
