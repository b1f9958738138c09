import QtQuick 2.14
import QtQuick.Layouts 1.2
import QtPelago.Window 1.0
import "../common"

// Welcome shown once after installation.
FramelessWindow {
    id: page

    // English texts run longer; the choice is made once, when the page is created.
    readonly property bool english: kiv.isEnglish()

    width: 520
    height: english ? 440 : 360
    modality: Qt.ApplicationModal
    needShadow: false
    parentWin: mainWin
    color: "transparent"

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: utils.kiv_itemdowncolor

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            KivText {
                Layout.topMargin: 60
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: 480
                text: qsTr("欢迎使用Velnor")
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 36
            }
            KivText {
                Layout.topMargin: 40
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: 480
                text: qsTr("Velnor需要在同一网络将PC上的视频无线传输到眼镜上进行观看。")
                wrapMode: Text.WordWrap
                color: "#979797"
            }
            Item {
                Layout.fillHeight: true
            }
            PageButton {
                objectName: "okButton"
                Layout.alignment: Qt.AlignHCenter
                Layout.bottomMargin: 24
                width: 270
                color: "#4F7FFE"
                text: qsTr("知道了")
                textColor: "#F3F3F3"
                bold: false
                pixelSize: 24
                onClicked: page.close()
            }
        }
    }
}
