import QtQuick 2.14
import QtQuick.Layouts 1.2
import QtPelago.Window 1.0

// The only scene of a second instance: it says the assistant already runs, then goes away.
FramelessWindow {
    id: tipWindow

    width: 400
    height: 300
    visible: true
    needShadow: false
    color: "transparent"
    titleBar: titleRow

    // Everything in the title row but the close icon drags the notice.
    Component.onCompleted: {
        addIgnore(titleText)
        addIgnore(titleSpacer)
    }

    component NoticeText: Text {
        font.family: "Source Han Sans CN Medium"
        color: "#FFFFFF"
    }

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: "#22242C"

        ColumnLayout {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            spacing: 0

            RowLayout {
                id: titleRow
                Layout.fillWidth: true
                Layout.fillHeight: false
                Layout.preferredHeight: 82
                spacing: 0

                NoticeText {
                    id: titleText
                    Layout.leftMargin: 30
                    Layout.topMargin: 40
                    text: qsTr("提示")
                    font.bold: true
                    font.pixelSize: 36
                }
                Item {
                    id: titleSpacer
                    Layout.fillWidth: true
                }
                Image {
                    Layout.rightMargin: 30
                    Layout.preferredWidth: 24
                    Layout.preferredHeight: 24
                    source: "qrc:/res/image/kiv_close.png"

                    MouseArea {
                        objectName: "closeArea"
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: tipWindow.close()
                    }
                }
            }
            Item {
                Layout.fillHeight: true
            }
            NoticeText {
                Layout.topMargin: 50
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("应用程序已打开")
                font.pixelSize: 20
            }
            Rectangle {
                Layout.topMargin: 40
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 180
                Layout.preferredHeight: 54
                radius: 8
                color: "#177BE6"

                NoticeText {
                    anchors.centerIn: parent
                    text: qsTr("确定")
                    font.bold: true
                    font.pixelSize: 20
                }
                MouseArea {
                    objectName: "okArea"
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: tipWindow.close()
                }
            }
        }
    }

    Timer {
        objectName: "closeTimer"
        interval: 4000
        running: true
        onTriggered: tipWindow.close()
    }
}
