import QtQuick 2.14
import QtQuick.Window 2.14

Window {
    width: 1360
    height: 875
    visible: true
    flags: Qt.FramelessWindowHint
    color: "#1F1F26"
    Text {
        anchors.centerIn: parent
        text: "Velnor"
        color: "white"
        font.pixelSize: 32
    }
}
