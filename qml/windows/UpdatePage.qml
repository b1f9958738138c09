import QtQuick 2.14
import QtPelago.Window 1.0
import "../common"

// Offers the downloaded installer. A forced update cannot be declined without leaving.
FramelessWindow {
    id: page

    property string note: ""
    property bool isForce: false

    width: 420
    height: column.height
    modality: Qt.ApplicationModal
    needShadow: false
    parentWin: mainWin
    color: "transparent"


    Rectangle {
        anchors.fill: parent
        radius: 12
        color: utils.kiv_btnbackgroundcolor
    }

    // A plain column, not a layout: the page's height follows it, and a layout would re-measure
    // the wrapped texts while that height is being set.
    Column {
        id: column
        width: page.width

        Gap { height: 30 }
        KivText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("自动更新")
            color: "#CCCCCD"
            font.pixelSize: 36
        }
        Gap { height: 4 }
        KivText {
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, 340)
            text: qsTr("您的KIVVelnor工具需安装如下更新才能使用")
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            color: "#FF909092"
            font.pixelSize: 16
        }
        Gap { height: 10 }
        KivText {
            objectName: "noteLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 340
            text: page.note
            // Release notes may hold long unbroken runs (links, version strings).
            wrapMode: Text.WrapAnywhere
            color: "#F3F3F3"
            font.pixelSize: 18
            // The main window places the page by its height right after setting the note.
            onHeightChanged: column.forceLayout()
        }
        Gap {
            height: 10
            visible: page.isForce
        }
        KivText {
            objectName: "forceLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, 360)
            visible: page.isForce
            text: qsTr("此版本为强更，取消后将关闭程序")
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            color: "red"
            font.pixelSize: 18
            onVisibleChanged: column.forceLayout()
        }
        Gap { height: 16 }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 16

            PageButton {
                objectName: "installButton"
                width: 162
                color: "#FF177BE6"
                text: qsTr("立即安装")
                onClicked: {
                    if (kivupdate.setup()) {
                        page.close()
                        mainWin.close()
                    } else {
                        mainWin.showToast(qsTr("安装失败请重试！"))
                    }
                }
            }
            PageButton {
                objectName: "cancelButton"
                width: 162
                color: "#FF292A33"
                text: qsTr("取消")
                onClicked: {
                    page.close()
                    if (page.isForce)
                        mainWin.close()
                }
            }
        }
        Gap { height: 18 }
    }
}
