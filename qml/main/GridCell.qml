import QtQuick 2.14
import QtQuick.Layouts 1.2

// One entry of the grid: a video's cover with its duration and size, or a folder, above the name.
Item {
    id: cell

    property int entryId
    property string path
    property bool isVideo
    property alias name: nameText.text
    property url cover
    property alias duration: durationText.text
    property alias size: sizeText.text
    property bool highlighted

    // Any click; a right click then asks for the menu at the pointer, in this cell's coordinates.
    signal selected()
    signal menuRequested(int entryId, string path, Item at, real x, real y)
    signal activated(int entryId, string path)

    width: 260
    height: 240

    Rectangle {
        anchors.horizontalCenter: parent.horizontalCenter
        width: 218
        height: 260
        radius: 20
        color: cell.highlighted ? utils.kiv_itemselectcolor
                                : area.containsMouse ? utils.kiv_itemdowncolor : "transparent"

        Column {
            anchors.centerIn: parent

            Item {
                width: 200
                height: 200

                Image {
                    anchors.fill: parent
                    visible: !cell.isVideo
                    source: !cell.isVideo ? "qrc:/res/image/file_big.png" : ""
                }
                ColumnLayout {
                    anchors.fill: parent
                    visible: cell.isVideo
                    spacing: 8

                    Image {
                        Layout.topMargin: 30
                        Layout.alignment: Qt.AlignHCenter
                        Layout.preferredWidth: 186
                        Layout.preferredHeight: 140
                        fillMode: Image.PreserveAspectCrop
                        clip: true
                        asynchronous: true
                        source: cell.isVideo ? cell.cover : ""

                        Image {
                            anchors.centerIn: parent
                            width: 32
                            height: 38
                            source: "qrc:/res/image/kiv_play.png"
                        }
                    }
                    Item {
                        Layout.fillWidth: true
                        Layout.preferredHeight: 22

                        Text {
                            id: durationText
                            anchors.left: parent.left
                            anchors.leftMargin: 7
                            font.family: utils.kiv_font
                            font.pixelSize: 16
                            color: utils.kiv_subtextcolor
                        }
                        Text {
                            id: sizeText
                            anchors.right: parent.right
                            anchors.rightMargin: 7
                            font.family: utils.kiv_font
                            font.pixelSize: 16
                            color: utils.kiv_subtextcolor
                        }
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                }
            }
            Text {
                id: nameText
                anchors.horizontalCenter: parent.horizontalCenter
                width: Math.min(implicitWidth, 180)
                elide: Text.ElideRight
                horizontalAlignment: Text.AlignHCenter
                font.family: utils.kiv_font
                font.bold: true
                font.pixelSize: 20
                color: utils.kiv_textcolor
            }
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            cell.selected()
            if (mouse.button === Qt.RightButton)
                cell.menuRequested(cell.entryId, cell.path, cell, mouse.x, mouse.y)
        }
        onDoubleClicked: {
            if (mouse.button === Qt.LeftButton)
                cell.activated(cell.entryId, cell.path)
        }
    }
}
