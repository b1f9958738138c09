import QtQuick 2.14
import QtQuick.Controls 2.5
import "../common"

// The context menu of an entry: open it, remove it from the list, show it in the file manager.
// The action is the entry's index, the code the manager's fileAction takes.
Popup {
    id: menu

    property int entryId: 0
    property string path: ""

    signal chosen(int action, int entryId, string path)

    // Opens the menu for an entry at a point given in the coordinates of item at. The menu lives
    // in its parent's coordinates, so the point is carried there first.
    function openAt(at, x, y, entryId, path) {
        var corner = at.mapToItem(menu.parent, 0, 0)
        menu.x = corner.x + x
        menu.y = corner.y + y + 10
        menu.entryId = entryId
        menu.path = path
        menu.open()
    }

    objectName: "contextMenu"
    width: 160
    height: 219
    padding: 0
    background: Rectangle {
        color: utils.kiv_itemdowncolor
        radius: 4
    }

    Column {
        Repeater {
            model: [qsTr("打开"), qsTr("移除列表"), qsTr("原文件位置")]

            delegate: Item {
                width: 160
                height: 73

                MenuEntry {
                    objectName: "contextEntry" + index
                    anchors.centerIn: parent
                    text: modelData
                    onClicked: {
                        menu.chosen(index, menu.entryId, menu.path)
                        menu.close()
                    }
                }
            }
        }
    }
}
