import QtQuick 2.14
import QtQuick.Layouts 1.2
import QtPelago.Window 1.0
import "../common"

// Stays up while an import or a refresh runs, until cancelled, replaced by the result, or told
// that the request will never be answered.
FramelessWindow {
    id: page

    // Request id of the running import, which a cancel names.
    property string uuid: ""

    width: 380
    height: 314
    modality: Qt.ApplicationModal
    needShadow: false
    parentWin: mainWin
    color: "transparent"

    Connections {
        target: kiv
        function onCloseWaitPage(uuid) {
            if (uuid === page.uuid)
                page.close()
        }
    }

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
                Layout.topMargin: 40
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: 300
                text: qsTr("视频文件导入中，请耐心等待")
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
            QmlBusyIndicator {
                Layout.topMargin: 40
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 40
                Layout.preferredHeight: 40
                looptime: Animation.Infinite
            }
            KivText {
                Layout.topMargin: 10
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("加载中…")
                color: "#A4A4A5"
                font.pixelSize: 16
            }
            PageButton {
                objectName: "cancelButton"
                Layout.topMargin: 40
                Layout.alignment: Qt.AlignHCenter
                width: 270
                color: "#4F7FFE"
                text: qsTr("取消")
                textColor: "#F3F3F3"
                bold: false
                pixelSize: 24
                onClicked: {
                    kiv.cacelAction(page.uuid)
                    page.close()
                }
            }
        }
    }
}
