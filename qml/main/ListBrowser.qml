import QtQuick 2.14
import QtQuick.Controls 2.5
import QtQuick.Layouts 1.2
import "../common"

// The folder on show as a list under a row of headings.
Column {
    id: list

    property alias model: listView.model
    // The highlighted row, -1 for none.
    property int highlightIndex: -1

    signal selected(int index)
    signal menuRequested(int entryId, string path, Item at, real x, real y)
    signal activated(int entryId, string path)

    objectName: "listColumn"
    spacing: 0

    Rectangle {
        width: parent.width
        height: 50
        color: utils.kiv_itemdowncolor

        RowLayout {
            anchors.fill: parent
            spacing: 0

            KivText {
                Layout.leftMargin: 102
                Layout.preferredWidth: 160
                text: qsTr("文件名称")
            }
            KivText {
                Layout.leftMargin: 528
                Layout.preferredWidth: 100
                text: qsTr("分辨率")
            }
            KivText {
                Layout.leftMargin: 100
                Layout.preferredWidth: 100
                text: qsTr("时长")
            }
            KivText {
                Layout.leftMargin: 80
                Layout.preferredWidth: 100
                text: qsTr("大小")
            }
            Item {
                Layout.fillWidth: true
            }
        }
    }

    ListView {
        id: listView
        objectName: "listView"
        width: parent.width
        height: parent.height - 50
        clip: true
        spacing: 0
        ScrollBar.vertical: ScrollBar {}

        delegate: ListRow {
            objectName: "listRow" + index
            entryId: model.id
            path: model.abspath
            isVideo: model.filetype === 0
            name: model.filename
            cover: model.coverimage
            definition: model.videoDefinition
            duration: model.duration
            size: model.size
            highlighted: index === list.highlightIndex
            onSelected: list.selected(index)
            onMenuRequested: list.menuRequested(entryId, path, at, x, y)
            onActivated: list.activated(entryId, path)
        }
    }
}
