import QtQuick 2.14
import QtPelago.Window 1.0
import "../common"

// The outcome of an import; the page grows with the text.
FramelessWindow {
    id: page

    property string tipsText: ""

    width: 380
    height: column.height + 30
    modality: Qt.ApplicationModal
    needShadow: false
    parentWin: mainWin
    color: "transparent"


    Rectangle {
        anchors.fill: parent
        radius: 12
        color: utils.kiv_itemdowncolor
    }

    // A plain column, not a layout: the page's height follows it, and a layout would re-measure
    // the wrapped text while that height is being set.
    Column {
        id: column
        width: page.width

        Gap { height: 40 }
        KivText {
            objectName: "tipsLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, 300)
            text: page.tipsText
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            // The main window places the page by its height right after setting the text.
            onHeightChanged: column.forceLayout()
        }
        Gap { height: 20 }
        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 100
            height: 92
            source: "qrc:/res/image/kiv_loadres.png"
        }
        Gap { height: 30 }
        PageButton {
            objectName: "okButton"
            anchors.horizontalCenter: parent.horizontalCenter
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
