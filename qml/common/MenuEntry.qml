import QtQuick 2.14

// One entry of the import menu or the context menu: a plate that lights up under the pointer.
Rectangle {
    id: entry

    property alias text: label.text

    signal clicked()

    width: 148
    height: 65
    radius: 4
    color: area.containsMouse ? "#333641" : "transparent"

    Text {
        id: label
        anchors.centerIn: parent
        font.family: utils.kiv_font
        font.pixelSize: 18
        color: "#FFFFFF"
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: entry.clicked()
    }
}
