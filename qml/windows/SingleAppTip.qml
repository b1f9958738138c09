import QtQuick 2.14
import QtPelago.Window 1.0

FramelessWindow {
    id: tipWindow
    width: 400
    height: 300
    visible: true
    color: "#2B2B33"

    Text {
        anchors.centerIn: parent
        text: qsTr("程序已经在运行")
        color: "#FFFFFF"
        font.family: "Source Han Sans CN Medium"
        font.pixelSize: 20
    }
    MouseArea {
        anchors.fill: parent
        onClicked: tipWindow.close()
    }
    Timer {
        interval: 4000
        running: true
        onTriggered: tipWindow.close()
    }
}
