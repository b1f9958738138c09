import QtQuick 2.14

// The buttons of the dialog pages: a rounded plate with a centred text.
Rectangle {
    id: button

    property alias text: label.text
    property alias textColor: label.color
    property alias pixelSize: label.font.pixelSize
    property alias bold: label.font.bold
    property string fontFamily: utils.kiv_font

    signal clicked()

    implicitWidth: width
    implicitHeight: height
    height: 54
    radius: 8

    Text {
        id: label
        anchors.centerIn: parent
        font.family: button.fontFamily
        font.pixelSize: 20
        font.bold: true
        color: "#FFFFFF"
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}
