import QtQuick 2.14

// A row of buttons of which one is chosen. Choosing the chosen one again does nothing.
Row {
    id: group

    property int curIndex: 0
    property var labels: []
    property int buttonWidth: 276
    property string namePrefix: ""

    signal chosen(int index)

    spacing: 8

    Repeater {
        model: group.labels

        delegate: Rectangle {
            objectName: group.namePrefix + index
            width: group.buttonWidth
            height: 54
            radius: 8
            color: group.curIndex === index ? "#177BE6" : "#292A33"

            Text {
                anchors.centerIn: parent
                text: modelData
                font.family: utils.kiv_font
                font.bold: true
                font.pixelSize: 20
                color: "#FFFFFF"
            }

            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    if (group.curIndex === index)
                        return
                    group.curIndex = index
                    group.chosen(index)
                }
            }
        }
    }
}
