import QtQuick 2.14
import QtQuick.Controls 2.5
import "../common"

// The import button's menu: a folder, or one or more video files.
Popup {
    id: menu

    signal folderChosen()
    signal filesChosen()

    objectName: "importMenu"
    width: 160
    height: 148
    padding: 0
    background: Rectangle {
        color: utils.kiv_itemdowncolor
        radius: 4
    }

    Column {
        anchors.centerIn: parent

        MenuEntry {
            objectName: "importFolderEntry"
            text: qsTr("导入文件夹")
            onClicked: {
                menu.folderChosen()
                menu.close()
            }
        }
        MenuEntry {
            objectName: "importFilesEntry"
            text: qsTr("导入视频文件")
            onClicked: {
                menu.filesChosen()
                menu.close()
            }
        }
    }
}
