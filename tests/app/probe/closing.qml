import QtQuick 2.14
import QtPelago.Window 1.0

FramelessWindow {
    id: window
    width: 200
    height: 100
    visible: true
    Timer {
        interval: 200
        running: true
        onTriggered: window.close()
    }
}
