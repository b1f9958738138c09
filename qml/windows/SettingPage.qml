import QtQuick 2.14
import QtQuick.Controls 2.5
import QtQuick.Layouts 1.2
import "../common"

// View and sort choices of the main window. Each group remembers its own choice for the life of
// the main window; it starts as grid view, by name, upward, which is how the manager starts.
Popup {
    id: settingPage

    property alias viewIndex: viewGroup.curIndex
    property alias sortKeyIndex: sortKeyGroup.curIndex
    property alias directionIndex: directionGroup.curIndex

    width: 620
    height: 449
    padding: 0
    background: Rectangle {
        color: "transparent"
    }

    contentItem: Rectangle {
        radius: 12
        color: utils.kiv_itemdowncolor

        ColumnLayout {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            spacing: 0

            KivText {
                Layout.leftMargin: 30
                Layout.topMargin: 40
                text: qsTr("视图选择")
            }
            ChoiceGroup {
                id: viewGroup
                Layout.leftMargin: 30
                Layout.topMargin: 24
                namePrefix: "viewButton"
                labels: [qsTr("看板视图"), qsTr("表格视图")]
                onChosen: kiv.setShowGridView(index === 0)
            }
            KivText {
                Layout.leftMargin: 30
                Layout.topMargin: 24
                text: qsTr("排序标准")
            }
            ChoiceGroup {
                id: sortKeyGroup
                Layout.leftMargin: 30
                Layout.topMargin: 24
                namePrefix: "sortKeyButton"
                buttonWidth: 181
                labels: [qsTr("名称"), qsTr("日期"), qsTr("大小")]
                onChosen: kiv.setSortType(sortKeyGroup.curIndex, directionGroup.curIndex)
            }
            KivText {
                Layout.leftMargin: 30
                Layout.topMargin: 40
                text: qsTr("升降序")
            }
            ChoiceGroup {
                id: directionGroup
                Layout.leftMargin: 30
                Layout.topMargin: 24
                namePrefix: "directionButton"
                labels: [qsTr("升序"), qsTr("降序")]
                onChosen: kiv.setSortType(sortKeyGroup.curIndex, directionGroup.curIndex)
            }
        }
    }
}
