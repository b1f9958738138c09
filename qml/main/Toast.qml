import QtQuick 2.14
import QtPelago.Window 1.0

// A short message in a window of its own, above everything. It goes 2.5 s after it appeared; a
// new text while it is up does not keep it longer.
FramelessWindow {
    id: toast

    property alias text: label.text

    objectName: "toast"
    flags: Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    needShadow: false
    color: "transparent"
    // Whole pixels, so the text is never clipped by a fraction.
    width: Math.ceil(label.width) + 24
    height: Math.ceil(label.height) + 16
    onVisibleChanged: {
        if (visible)
            timer.start()
    }

    Rectangle {
        anchors.fill: parent
        color: utils.kiv_toastcolor
        radius: utils.kiv_radius

        Text {
            id: label
            objectName: "toastText"
            x: 12
            y: 8
            color: utils.kiv_toasttextcolor
        }
    }

    Timer {
        id: timer
        objectName: "toastTimer"
        interval: 2500
        onTriggered: toast.hide()
    }
}
