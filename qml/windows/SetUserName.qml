import QtQuick 2.14
import QtQuick.Layouts 1.2
import QtPelago.Window 1.0
import "../common"

// Renames the PC as the headset lists it. The manager trims and checks the name.
FramelessWindow {
    id: page

    property alias textEditItem: input

    width: 512
    height: 242
    modality: Qt.WindowModal
    needShadow: false
    parentWin: mainWin
    color: "transparent"

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: utils.kiv_itemdowncolor

        ColumnLayout {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            spacing: 0

            KivText {
                Layout.topMargin: 24
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("修改设备ID")
                color: "#EAEAEA"
                font.pixelSize: 24
            }
            Rectangle {
                Layout.topMargin: 16
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 452
                Layout.preferredHeight: 54
                color: "#292A33"

                // Enter does not confirm: only the button sends the name.
                TextInput {
                    id: input
                    objectName: "nameInput"
                    anchors.centerIn: parent
                    width: parent.width - 20
                    clip: true
                    focus: true
                    selectByMouse: true
                    font.family: utils.kiv_font
                    font.pixelSize: 20
                    color: "#E6E6E6"
                    selectionColor: "#177BE6"
                }
            }
            RowLayout {
                Layout.topMargin: 40
                Layout.alignment: Qt.AlignHCenter
                spacing: 8

                PageButton {
                    objectName: "cancelButton"
                    width: 222
                    color: "#333641"
                    text: qsTr("取消")
                    onClicked: page.close()
                }
                PageButton {
                    objectName: "confirmButton"
                    width: 222
                    color: "#177BE6"
                    text: qsTr("确定")
                    onClicked: {
                        // displayText also holds what an input method is still composing.
                        kiv.setPersonalName(input.displayText)
                        page.close()
                    }
                }
            }
        }
    }
}
