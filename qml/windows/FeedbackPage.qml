import QtQuick 2.14
import QtQuick.Layouts 1.2
import QtPelago.Window 1.0
import "../common"

// How to reach the library from the headset.
FramelessWindow {
    id: page

    readonly property bool english: kiv.isEnglish()

    width: 600
    height: english ? 558 : 488
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
                Layout.topMargin: 80
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: 580
                text: qsTr("Velnor使用说明")
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
                font.bold: true
                font.pixelSize: 36
            }
            Repeater {
                model: [qsTr("·请确保电脑和头显处于同一网络下"), qsTr("·在眼镜端搜索PC设备并选择"),
                    qsTr("·在眼镜里选择列表中的视频文件开始播放")]

                delegate: KivText {
                    Layout.topMargin: index === 0 ? 60 : 20
                    Layout.leftMargin: 80
                    Layout.maximumWidth: 460
                    text: modelData
                    wrapMode: Text.WordWrap
                    color: "#979797"
                }
            }
            PageButton {
                objectName: "okButton"
                Layout.topMargin: 60
                Layout.alignment: Qt.AlignHCenter
                width: 270
                color: "#177BE6"
                text: qsTr("知道了")
                onClicked: page.close()
            }
        }
    }
}
