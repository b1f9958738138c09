#pragma once

#include <QQuickView>

// Top-level window type of every scene: a Qt Quick view without the system frame.
class FramelessQuickWindow : public QQuickView
{
    Q_OBJECT
public:
    explicit FramelessQuickWindow(QWindow *parent = nullptr);
};
