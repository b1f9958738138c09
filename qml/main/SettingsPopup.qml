import QtQuick 2.14
import QtQuick.Controls 2.5
import QtQuick.Layouts 1.2
import "../common"

// The settings button's popup: the product, its version, the device name the headset shows and
// the addresses a person types into the VR players.
Popup {
    id: popup

    property string version
    property string deviceName
    // "http://<address>:<port>"; empty hides the players' addresses.
    property string playerAddress

    signal editNameRequested()

    objectName: "settingsPopup"
    width: 380
    height: content.implicitHeight + 36
    padding: 0
    background: Rectangle {
        color: utils.kiv_itemdowncolor
        radius: 4
    }

    ColumnLayout {
        id: content
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        spacing: 20

        RowLayout {
            Layout.leftMargin: 40
            Layout.topMargin: 40
            spacing: 20

            Image {
                Layout.preferredWidth: 80
                Layout.preferredHeight: 80
                source: "qrc:/res/image/kiv_icon.png"
            }
            ColumnLayout {
                Layout.alignment: Qt.AlignTop
                spacing: 4

                Text {
                    Layout.maximumWidth: 180
                    text: qsTr("Velnor")
                    wrapMode: Text.WordWrap
                    font.family: utils.kiv_font
                    font.pixelSize: 19
                    color: utils.kiv_textcolor
                }
                Text {
                    objectName: "versionText"
                    text: popup.version
                    font.family: utils.kiv_font
                    font.pixelSize: 16
                    color: utils.kiv_subtextcolor
                }
            }
        }

        RowLayout {
            Layout.leftMargin: 40
            spacing: 0

            Text {
                text: qsTr("设备ID：")
                font.family: utils.kiv_font
                font.pixelSize: 16
                color: utils.kiv_subtextcolor
            }
            Text {
                objectName: "deviceNameText"
                Layout.maximumWidth: 170
                text: popup.deviceName
                elide: Text.ElideRight
                font.family: utils.kiv_font
                font.pixelSize: 16
                color: utils.kiv_subtextcolor
            }
            IconButton {
                objectName: "editNameArea"
                Layout.leftMargin: 6
                Layout.preferredWidth: 15
                Layout.preferredHeight: 15
                iconSize: 15
                color: "transparent"
                source: "qrc:/res/image/setname_icon.png"
                onClicked: popup.editNameRequested()
            }
        }

        ColumnLayout {
            objectName: "playerAddresses"
            visible: popup.playerAddress !== ""
            Layout.leftMargin: 40
            Layout.rightMargin: 20
            spacing: 4

            Text {
                text: qsTr("在 DeoVR 或 HereSphere 中输入：")
                font.family: utils.kiv_font
                font.pixelSize: 16
                color: utils.kiv_subtextcolor
            }
            Repeater {
                model: ["/deovr", "/heresphere"]

                Text {
                    objectName: "playerAddressText" + index
                    Layout.maximumWidth: 320
                    text: popup.playerAddress + modelData
                    textFormat: Text.PlainText
                    wrapMode: Text.WrapAnywhere
                    font.family: utils.kiv_font
                    font.pixelSize: 16
                    color: utils.kiv_textcolor
                }
            }
        }
    }
}
