import QtQuick 2.14
import QtQuick.Layouts 1.2
import "../common"

// One entry of the list: a small cover, the name and, for a video, its resolution, duration and
// size under the headings of the list.
Rectangle {
    id: row

    property int entryId
    property string path
    property bool isVideo
    property alias name: nameText.text
    property alias cover: coverImage.source
    property alias definition: definitionText.text
    property alias duration: durationText.text
    property alias size: sizeText.text
    property bool highlighted

    // Any click; a right click then asks for the menu at the pointer, in this row's coordinates.
    signal selected()
    signal menuRequested(int entryId, string path, Item at, real x, real y)
    signal activated(int entryId, string path)

    width: 1300
    height: 88
    radius: utils.kiv_radius
    color: row.highlighted ? utils.kiv_itemselectcolor
                           : area.containsMouse ? utils.kiv_itemdowncolor : "transparent"

    RowLayout {
        anchors.verticalCenter: parent.verticalCenter
        spacing: 0

        Image {
            id: coverImage
            Layout.leftMargin: 30
            Layout.preferredWidth: 56
            Layout.preferredHeight: row.isVideo ? 42 : 48
            fillMode: row.isVideo ? Image.PreserveAspectCrop : Image.Stretch
            clip: true
            asynchronous: true

            Image {
                anchors.centerIn: parent
                width: 10
                height: 12
                visible: row.isVideo
                source: "qrc:/res/image/kiv_play.png"
            }
        }
        KivText {
            id: nameText
            Layout.leftMargin: 16
            elide: Text.ElideRight
            Layout.preferredWidth: 580
            Layout.maximumWidth: 580
        }
        KivText {
            id: definitionText
            Layout.leftMargin: 116
            Layout.preferredWidth: 180
            visible: row.isVideo
        }
        KivText {
            id: durationText
            Layout.leftMargin: 22
            Layout.preferredWidth: 180
            visible: row.isVideo
        }
        KivText {
            id: sizeText
            Layout.leftMargin: 10
            Layout.preferredWidth: 180
            visible: row.isVideo
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onClicked: {
            row.selected()
            if (mouse.button === Qt.RightButton)
                row.menuRequested(row.entryId, row.path, row, mouse.x, mouse.y)
        }
        onDoubleClicked: {
            if (mouse.button === Qt.LeftButton)
                row.activated(row.entryId, row.path)
        }
    }
}
