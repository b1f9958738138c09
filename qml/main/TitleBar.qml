import QtQuick 2.14
import QtQuick.Layouts 1.2
import "../common"

// The top of the main window: import, the product's name, help, settings, minimise and close.
// The window is dragged by whatever part of the row is no button: the label and the stretch are
// items of the row, so the window names them as part of the drag area.
RowLayout {
    id: bar

    property string version
    property string deviceName
    property string playerAddress
    readonly property Item label: productLabel
    readonly property Item stretch: titleSpacer

    signal importFolderRequested()
    signal importFilesRequested()
    signal helpRequested()
    signal editNameRequested()
    signal settingsOpened()
    signal minimiseRequested()
    signal closeRequested()

    spacing: 0

    Rectangle {
        objectName: "importButton"
        Layout.leftMargin: utils.kiv_margin
        Layout.preferredWidth: 140
        Layout.preferredHeight: utils.kiv_buttonsize
        color: utils.kiv_accentcolor
        radius: utils.kiv_radius

        Row {
            anchors.centerIn: parent
            spacing: 10

            Image {
                anchors.verticalCenter: parent.verticalCenter
                width: utils.kiv_iconsize
                height: utils.kiv_iconsize
                source: "qrc:/res/image/kiv_import.png"
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("导入")
                font.family: utils.kiv_font
                font.bold: true
                font.pixelSize: 18
                color: utils.kiv_textcolor
            }
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: importMenu.open()
        }

        ImportMenu {
            id: importMenu
            y: 60
            onFolderChosen: bar.importFolderRequested()
            onFilesChosen: bar.importFilesRequested()
        }
    }

    Column {
        id: productLabel
        Layout.leftMargin: productName.width > 180 ? 200 : 437
        spacing: 5

        Text {
            id: productName
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Velnor")
            font.family: utils.kiv_font
            font.bold: true
            font.pixelSize: 24
            color: utils.kiv_textcolor
            horizontalAlignment: Text.AlignHCenter
        }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter

            Image {
                anchors.verticalCenter: parent.verticalCenter
                width: 14
                height: 14
                source: "qrc:/res/image/warning.png"
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("需与眼镜端在同一网络下")
                font.family: utils.kiv_font
                font.bold: true
                font.pixelSize: 16
                color: utils.kiv_subtextcolor
            }
        }
    }

    Item {
        id: titleSpacer
        Layout.fillWidth: true
        Layout.fillHeight: true
    }

    IconButton {
        objectName: "helpButton"
        Layout.preferredWidth: utils.kiv_buttonsize
        Layout.preferredHeight: utils.kiv_buttonsize
        source: "qrc:/res/image/kiv_help.png"
        onClicked: bar.helpRequested()
    }

    IconButton {
        objectName: "settingsButton"
        Layout.leftMargin: 32
        Layout.preferredWidth: utils.kiv_buttonsize
        Layout.preferredHeight: utils.kiv_buttonsize
        source: "qrc:/res/image/kiv_setting.png"
        onClicked: {
            bar.settingsOpened()
            settingsPopup.open()
        }

        SettingsPopup {
            id: settingsPopup
            x: -340
            y: 60
            version: bar.version
            deviceName: bar.deviceName
            playerAddress: bar.playerAddress
            onEditNameRequested: bar.editNameRequested()
        }
    }

    Rectangle {
        Layout.leftMargin: 32
        Layout.rightMargin: utils.kiv_margin
        Layout.preferredWidth: 100
        Layout.preferredHeight: utils.kiv_buttonsize
        color: utils.kiv_itemdowncolor
        radius: utils.kiv_radius

        Row {
            anchors.centerIn: parent
            spacing: 16

            IconButton {
                objectName: "minimiseArea"
                width: utils.kiv_iconsize
                height: utils.kiv_iconsize
                color: "transparent"
                source: "qrc:/res/image/kiv_min.png"
                onClicked: bar.minimiseRequested()
            }
            IconButton {
                objectName: "closeArea"
                width: utils.kiv_iconsize
                height: utils.kiv_iconsize
                color: "transparent"
                source: "qrc:/res/image/kiv_close.png"
                onClicked: bar.closeRequested()
            }
        }
    }
}
