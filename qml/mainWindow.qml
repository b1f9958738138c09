import QtQuick 2.14
import QtPelago.Window 1.0

FramelessWindow {
    id: mainWindow
    width: 1360
    height: 875
    visible: true
    color: "#1F1F26"
    title: "VelnorAssistant"

    Text {
        anchors.centerIn: parent
        text: qsTr("Velnor 助手")
        color: "#FFFFFF"
        font.family: "Source Han Sans CN Medium"
        font.pixelSize: 32
    }
}
