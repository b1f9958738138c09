import QtQuick 2.14

// A picture that takes clicks, on a rounded plate; a transparent plate shows the picture alone.
Rectangle {
    id: button

    property alias source: picture.source
    property int iconSize: utils.kiv_iconsize
    property alias hoverEnabled: area.hoverEnabled
    readonly property alias containsMouse: area.containsMouse

    signal clicked()
    signal pressed()

    implicitWidth: utils.kiv_buttonsize
    implicitHeight: utils.kiv_buttonsize
    radius: utils.kiv_radius
    color: utils.kiv_itemdowncolor

    Image {
        id: picture
        anchors.centerIn: parent
        width: button.iconSize
        height: button.iconSize
    }

    MouseArea {
        id: area
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
        onPressed: button.pressed()
    }
}
