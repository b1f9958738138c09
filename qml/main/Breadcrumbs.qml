import QtQuick 2.14
import QtQuick.Layouts 1.2
import "../windows"
import "../common"

// The bar under the title: a label for every folder from the top down to the one on show, and
// the view and sort button at the end.
Rectangle {
    id: bar

    // Rich text; the last label, the folder on show, comes dimmed.
    property alias labels: crumbs.model

    signal crumbClicked(int index)

    color: utils.kiv_itemdowncolor

    RowLayout {
        anchors.fill: parent
        spacing: 12

        Repeater {
            id: crumbs
            objectName: "crumbs"

            delegate: Row {
                Layout.leftMargin: index === 0 ? utils.kiv_margin : 0
                Layout.alignment: Qt.AlignVCenter
                spacing: 12

                Image {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 7
                    height: 14
                    visible: index !== 0
                    source: "qrc:/res/image/kiv_arrow.png"
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData
                    textFormat: Text.AutoText
                    font.family: utils.kiv_font
                    font.bold: true
                    font.pixelSize: 18
                    color: utils.kiv_textcolor

                    MouseArea {
                        objectName: "crumb" + index
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: bar.crumbClicked(index)
                    }
                }
            }
        }

        Item {
            Layout.fillWidth: true
        }

        IconButton {
            id: sortIcon
            objectName: "sortIcon"

            // Whether the popup was opened from here: a press on the icon while its popup is
            // open must close it, not open it again.
            property bool hasShow: false

            Layout.rightMargin: utils.kiv_margin
            Layout.preferredWidth: 50
            Layout.preferredHeight: 50
            iconSize: 50
            color: "transparent"
            hoverEnabled: true
            source: "qrc:/res/image/sorticon.png"
            onPressed: {
                if (sortIcon.hasShow) {
                    sortIcon.hasShow = false
                } else {
                    sortIcon.hasShow = true
                    settingPage.open()
                }
            }

            SettingPage {
                id: settingPage
                objectName: "settingPage"
                x: sortIcon.width - width
                y: sortIcon.height + 20
                onVisibleChanged: {
                    if (!visible && !sortIcon.containsMouse)
                        sortIcon.hasShow = false
                }
            }
        }
    }
}
