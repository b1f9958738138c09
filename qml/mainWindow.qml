import QtQuick 2.14
import QtQuick.Controls 2.5
import QtQuick.Layouts 1.2
import KIVManager 1.0
import QtPelago.Window 1.0
import "./windows"
import "./common"

FramelessWindow {
    id: mainWin

    // Shows text in the toast below the middle of the window. A toast that is already up takes
    // the new text but keeps its timer, so it still goes 2.5 s after it first appeared.
    function showToast(text) {
        toastText.text = text
        toast.x = mainWin.x + 700 - toast.width / 2
        toast.y = mainWin.y + 400
        toast.show()
    }

    // Places the page now in the host at fixed offsets from the main window and shows it.
    function showSubWin() {
        var page = subWindow.item
        if (!page)
            return
        page.x = mainWin.x + 700 - page.width / 2
        page.y = mainWin.y + 440 - page.height / 2
        page.show()
    }

    // Puts a page into the host; asking for the page already there keeps that same object.
    function loadPage(name) {
        subWindow.source = "qrc:/qml/windows/" + name + ".qml"
        return subWindow.item
    }

    // Hands every chosen or dropped item to the manager, then reports the import once, even when
    // nothing came along.
    function importUrls(urls, folder, fromMenu) {
        for (var i = 0; i < urls.length; ++i)
            kiv.addFile(urls[i].toString())
        kiv.importFileReport(folder, fromMenu)
    }

    function openContextMenu(cell, view, mouse, fileId, filePath) {
        // The menu is placed inside the item area, so the pointer is mapped there; mapped into
        // the view it would land a margin away from the pointer.
        var corner = cell.mapToItem(contextMenu.parent, 0, 0)
        contextMenu.x = corner.x + mouse.x
        contextMenu.y = corner.y + mouse.y + 10
        contextMenu.fileid = fileId
        contextMenu.path = filePath
        contextMenu.open()
    }

    visible: true
    title: qsTr("Velnor")
    width: 1360
    height: 875
    color: "transparent"
    titleBar: titleRow

    // The layout is drawn for this width only; maximising or a window manager must not change it.
    onWidthChanged: {
        if (width !== 1360) {
            width = 1360
            height = 875
        }
    }

    // The title bar drags the window wherever no button is; the label and the stretch between
    // the buttons are items of the row, so they are named as part of the drag area.
    Component.onCompleted: {
        addIgnore(productLabel)
        addIgnore(titleSpacer)
    }

    onCloseAll: {
        if (subWindow.item)
            subWindow.item.close()
        kiv.closeApp()
        mainWin.close()
    }

    Utils {
        id: utils
    }

    Rectangle {
        id: client
        anchors.fill: parent
        color: utils.kiv_backgroundcolor

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            RowLayout {
                id: titleRow
                Layout.fillWidth: true
                Layout.fillHeight: false
                Layout.preferredHeight: 110
                spacing: 0

                Rectangle {
                    id: importButton
                    objectName: "importButton"
                    Layout.leftMargin: 30
                    Layout.preferredWidth: 140
                    Layout.preferredHeight: 40
                    color: "#4F7FFE"
                    radius: 8

                    Row {
                        anchors.centerIn: parent
                        spacing: 10

                        Image {
                            anchors.verticalCenter: parent.verticalCenter
                            width: 24
                            height: 24
                            source: "qrc:/res/image/kiv_import.png"
                        }
                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            text: qsTr("导入")
                            font.family: utils.kiv_font
                            font.bold: true
                            font.pixelSize: 18
                            color: "#FFFFFF"
                        }
                    }

                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: importMenu.open()
                    }

                    Popup {
                        id: importMenu
                        objectName: "importMenu"
                        y: 60
                        width: 160
                        height: 148
                        padding: 0
                        background: Rectangle {
                            color: "#22242C"
                            radius: 4
                        }

                        Column {
                            anchors.centerIn: parent

                            MenuEntry {
                                objectName: "importFolderEntry"
                                text: qsTr("导入文件夹")
                                onClicked: {
                                    var fileDialog = importDialog()
                                    fileDialog.selectMultiple = false
                                    fileDialog.selectFolder = true
                                    fileDialog.open()
                                    importMenu.close()
                                }
                            }
                            MenuEntry {
                                objectName: "importFilesEntry"
                                text: qsTr("导入视频文件")
                                onClicked: {
                                    var fileDialog = importDialog()
                                    fileDialog.selectFolder = false
                                    fileDialog.selectMultiple = true
                                    fileDialog.nameFilters = ["Video files (*.mkv *.mp4 *.3gp *.avi *.flv *.m4v *.mov *.mpeg *.mpg *.webm *.wmv)"]
                                    fileDialog.open()
                                    importMenu.close()
                                }
                            }
                        }
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
                        color: "#FFFFFF"
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
                            color: "#A4A4A5"
                        }
                    }
                }

                Item {
                    id: titleSpacer
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                }

                Rectangle {
                    objectName: "helpButton"
                    Layout.preferredWidth: 40
                    Layout.preferredHeight: 40
                    color: utils.kiv_itemdowncolor
                    radius: 8

                    Image {
                        anchors.centerIn: parent
                        width: 24
                        height: 24
                        source: "qrc:/res/image/kiv_help.png"
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: {
                            loadPage("FeedbackPage")
                            showSubWin()
                        }
                    }
                }

                Rectangle {
                    id: settingsButton
                    objectName: "settingsButton"
                    Layout.leftMargin: 32
                    Layout.preferredWidth: 40
                    Layout.preferredHeight: 40
                    color: utils.kiv_itemdowncolor
                    radius: 8

                    Image {
                        anchors.centerIn: parent
                        width: 24
                        height: 24
                        source: "qrc:/res/image/kiv_setting.png"
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: settingsPopup.open()
                    }

                    Popup {
                        id: settingsPopup
                        objectName: "settingsPopup"
                        x: -280
                        y: 60
                        width: 320
                        height: 204
                        padding: 0
                        background: Rectangle {
                            color: "#22242C"
                            radius: 4
                        }

                        ColumnLayout {
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
                                        color: "#FFFFFF"
                                    }
                                    Text {
                                        objectName: "versionText"
                                        text: kivupdate.version()
                                        font.family: utils.kiv_font
                                        font.pixelSize: 16
                                        color: "#A4A4A5"
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
                                    color: "#A4A4A5"
                                }
                                Text {
                                    objectName: "deviceNameText"
                                    Layout.maximumWidth: 170
                                    text: kiv.userName
                                    elide: Text.ElideRight
                                    font.family: utils.kiv_font
                                    font.pixelSize: 16
                                    color: "#A4A4A5"
                                }
                                Image {
                                    Layout.leftMargin: 6
                                    Layout.preferredWidth: 15
                                    Layout.preferredHeight: 15
                                    source: "qrc:/res/image/setname_icon.png"

                                    MouseArea {
                                        objectName: "editNameArea"
                                        anchors.fill: parent
                                        cursorShape: Qt.PointingHandCursor
                                        onClicked: {
                                            var page = loadPage("SetUserName")
                                            page.textEditItem.text = kiv.userName
                                            showSubWin()
                                            page.requestActivate()
                                        }
                                    }
                                }
                            }
                        }
                    }
                }

                Rectangle {
                    Layout.leftMargin: 32
                    Layout.rightMargin: 30
                    Layout.preferredWidth: 100
                    Layout.preferredHeight: 40
                    color: utils.kiv_itemdowncolor
                    radius: 8

                    Row {
                        anchors.centerIn: parent
                        spacing: 16

                        Image {
                            width: 24
                            height: 24
                            source: "qrc:/res/image/kiv_min.png"

                            MouseArea {
                                objectName: "minimiseArea"
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: mainWin.showMinimized()
                            }
                        }
                        Image {
                            width: 24
                            height: 24
                            source: "qrc:/res/image/kiv_close.png"

                            MouseArea {
                                objectName: "closeArea"
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: {
                                    kiv.closeApp()
                                    mainWin.close()
                                }
                            }
                        }
                    }
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 60
                color: utils.kiv_itemdowncolor

                RowLayout {
                    anchors.fill: parent
                    spacing: 12

                    Repeater {
                        id: crumbs
                        objectName: "crumbs"
                        model: kiv.curPathList

                        delegate: Row {
                            Layout.leftMargin: index === 0 ? 30 : 0
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
                                color: "#FFFFFF"

                                MouseArea {
                                    objectName: "crumb" + index
                                    anchors.fill: parent
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: {
                                        itemArea.curentIndex = -1
                                        kiv.setFile(index)
                                    }
                                }
                            }
                        }
                    }

                    Item {
                        Layout.fillWidth: true
                    }

                    Image {
                        id: sortIcon
                        objectName: "sortIcon"

                        // Whether the popup was opened from here: a press on the icon while its
                        // popup is open must close it, not open it again.
                        property bool hasShow: false

                        Layout.rightMargin: 30
                        Layout.preferredWidth: 50
                        Layout.preferredHeight: 50
                        source: "qrc:/res/image/sorticon.png"

                        MouseArea {
                            id: sortArea
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onPressed: {
                                if (sortIcon.hasShow) {
                                    sortIcon.hasShow = false
                                } else {
                                    sortIcon.hasShow = true
                                    settingPage.open()
                                }
                            }
                        }

                        SettingPage {
                            id: settingPage
                            objectName: "settingPage"
                            x: sortIcon.width - width
                            y: sortIcon.height + 20
                            onVisibleChanged: {
                                if (!visible && !sortArea.containsMouse)
                                    sortIcon.hasShow = false
                            }
                        }
                    }
                }
            }

            Item {
                id: itemArea
                objectName: "itemArea"

                // The highlighted row of the current folder, -1 for none.
                property int curentIndex: -1

                Layout.topMargin: 30
                Layout.fillWidth: true
                Layout.fillHeight: true

                DropArea {
                    objectName: "dropArea"
                    anchors.fill: parent
                    onDropped: {
                        drop.accept(Qt.CopyAction)
                        // A dialog never opened is in its default, file mode.
                        importUrls(drop.urls, fileDialog ? fileDialog.selectFolder : false, false)
                    }
                }

                Image {
                    id: emptyState
                    objectName: "emptyState"
                    anchors.centerIn: parent
                    width: 680
                    height: 380
                    visible: kiv.hasNoneData
                    source: "qrc:/res/image/empty_img.png"

                    Column {
                        anchors.centerIn: parent
                        spacing: 10

                        Image {
                            anchors.horizontalCenter: parent.horizontalCenter
                            width: 80
                            height: 80
                            source: "qrc:/res/image/load_img.png"
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: qsTr("拖拽视频或文件到此处")
                            font.family: utils.kiv_font
                            font.pixelSize: 20
                            color: "#FFFFFF"
                        }
                    }
                }

                GridView {
                    id: gridView
                    objectName: "gridView"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 1300
                    height: parent.height
                    visible: kiv.showGridView && !kiv.hasNoneData
                    clip: true
                    focus: true
                    model: kiv.fileList
                    cellWidth: 260
                    cellHeight: 268

                    delegate: Item {
                        id: cell
                        objectName: "gridCell" + index
                        width: 260
                        height: 240

                        Rectangle {
                            anchors.horizontalCenter: parent.horizontalCenter
                            width: 218
                            height: 260
                            radius: 20
                            color: index === itemArea.curentIndex ? "#333641"
                                                                  : cellArea.containsMouse ? utils.kiv_itemdowncolor : "transparent"

                            Column {
                                anchors.centerIn: parent

                                Item {
                                    width: 200
                                    height: 200

                                    Image {
                                        anchors.fill: parent
                                        visible: model.filetype !== 0
                                        source: model.filetype !== 0 ? "qrc:/res/image/file_big.png" : ""
                                    }
                                    ColumnLayout {
                                        anchors.fill: parent
                                        visible: model.filetype === 0
                                        spacing: 8

                                        Image {
                                            Layout.topMargin: 30
                                            Layout.alignment: Qt.AlignHCenter
                                            Layout.preferredWidth: 186
                                            Layout.preferredHeight: 140
                                            fillMode: Image.PreserveAspectCrop
                                            clip: true
                                            asynchronous: true
                                            source: model.filetype === 0 ? model.coverimage : ""

                                            Image {
                                                anchors.centerIn: parent
                                                width: 32
                                                height: 38
                                                source: "qrc:/res/image/kiv_play.png"
                                            }
                                        }
                                        Item {
                                            Layout.fillWidth: true
                                            Layout.preferredHeight: 22

                                            Text {
                                                anchors.left: parent.left
                                                anchors.leftMargin: 7
                                                text: model.duration
                                                font.family: utils.kiv_font
                                                font.pixelSize: 16
                                                color: "#A4A4A5"
                                            }
                                            Text {
                                                anchors.right: parent.right
                                                anchors.rightMargin: 7
                                                text: model.size
                                                font.family: utils.kiv_font
                                                font.pixelSize: 16
                                                color: "#A4A4A5"
                                            }
                                        }
                                        Item {
                                            Layout.fillHeight: true
                                        }
                                    }
                                }
                                Text {
                                    anchors.horizontalCenter: parent.horizontalCenter
                                    width: Math.min(implicitWidth, 180)
                                    text: model.filename
                                    elide: Text.ElideRight
                                    horizontalAlignment: Text.AlignHCenter
                                    font.family: utils.kiv_font
                                    font.bold: true
                                    font.pixelSize: 20
                                    color: "#FFFFFF"
                                }
                            }
                        }

                        MouseArea {
                            id: cellArea
                            anchors.fill: parent
                            hoverEnabled: true
                            acceptedButtons: Qt.LeftButton | Qt.RightButton
                            cursorShape: Qt.PointingHandCursor
                            onClicked: {
                                itemArea.curentIndex = index
                                if (mouse.button === Qt.RightButton)
                                    openContextMenu(cell, gridView, mouse, model.id, model.abspath)
                            }
                            onDoubleClicked: {
                                if (mouse.button !== Qt.LeftButton)
                                    return
                                itemArea.curentIndex = -1
                                kiv.fileAction(0, model.id, model.abspath)
                            }
                        }
                    }
                }

                Column {
                    id: listColumn
                    objectName: "listColumn"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: parent.width - 60
                    height: parent.height
                    visible: !kiv.showGridView && !kiv.hasNoneData
                    spacing: 0

                    Rectangle {
                        width: parent.width
                        height: 50
                        color: utils.kiv_itemdowncolor

                        RowLayout {
                            anchors.fill: parent
                            spacing: 0

                            KivText {
                                Layout.leftMargin: 102
                                Layout.preferredWidth: 160
                                text: qsTr("文件名称")
                            }
                            KivText {
                                Layout.leftMargin: 528
                                Layout.preferredWidth: 100
                                text: qsTr("分辨率")
                            }
                            KivText {
                                Layout.leftMargin: 100
                                Layout.preferredWidth: 100
                                text: qsTr("时长")
                            }
                            KivText {
                                Layout.leftMargin: 80
                                Layout.preferredWidth: 100
                                text: qsTr("大小")
                            }
                            Item {
                                Layout.fillWidth: true
                            }
                        }
                    }

                    ListView {
                        id: listView
                        objectName: "listView"
                        width: parent.width
                        height: parent.height - 50
                        clip: true
                        spacing: 0
                        model: kiv.fileList
                        ScrollBar.vertical: ScrollBar {}

                        delegate: Rectangle {
                            id: row
                            objectName: "listRow" + index
                            width: 1300
                            height: 88
                            radius: 8
                            color: index === itemArea.curentIndex ? "#333641"
                                                                  : rowArea.containsMouse ? utils.kiv_itemdowncolor : "transparent"

                            RowLayout {
                                anchors.verticalCenter: parent.verticalCenter
                                spacing: 0

                                Image {
                                    Layout.leftMargin: 30
                                    Layout.preferredWidth: 56
                                    Layout.preferredHeight: model.filetype === 0 ? 42 : 48
                                    fillMode: model.filetype === 0 ? Image.PreserveAspectCrop : Image.Stretch
                                    clip: true
                                    asynchronous: true
                                    source: model.coverimage

                                    Image {
                                        anchors.centerIn: parent
                                        width: 10
                                        height: 12
                                        visible: model.filetype === 0
                                        source: "qrc:/res/image/kiv_play.png"
                                    }
                                }
                                KivText {
                                    Layout.leftMargin: 16
                                    elide: Text.ElideRight
                                    Layout.preferredWidth: 580
                                    Layout.maximumWidth: 580
                                    text: model.filename
                                }
                                KivText {
                                    Layout.leftMargin: 116
                                    Layout.preferredWidth: 180
                                    visible: model.filetype === 0
                                    text: model.videoDefinition
                                }
                                KivText {
                                    Layout.leftMargin: 22
                                    Layout.preferredWidth: 180
                                    visible: model.filetype === 0
                                    text: model.duration
                                }
                                KivText {
                                    Layout.leftMargin: 10
                                    Layout.preferredWidth: 180
                                    visible: model.filetype === 0
                                    text: model.size
                                }
                            }

                            MouseArea {
                                id: rowArea
                                anchors.fill: parent
                                hoverEnabled: true
                                acceptedButtons: Qt.LeftButton | Qt.RightButton
                                onClicked: {
                                    itemArea.curentIndex = index
                                    if (mouse.button === Qt.RightButton)
                                        openContextMenu(row, listColumn, mouse, model.id, model.abspath)
                                }
                                onDoubleClicked: {
                                    if (mouse.button === Qt.LeftButton)
                                        kiv.fileAction(0, model.id, model.abspath)
                                }
                            }
                        }
                    }
                }

                Popup {
                    id: contextMenu
                    objectName: "contextMenu"

                    property int fileid: 0
                    property string path: ""

                    width: 160
                    height: 219
                    padding: 0
                    background: Rectangle {
                        color: "#22242C"
                        radius: 4
                    }

                    Column {
                        Repeater {
                            model: [qsTr("打开"), qsTr("移除列表"), qsTr("原文件位置")]

                            delegate: Item {
                                width: 160
                                height: 73

                                MenuEntry {
                                    objectName: "contextEntry" + index
                                    anchors.centerIn: parent
                                    text: modelData
                                    onClicked: {
                                        kiv.fileAction(index, contextMenu.fileid, contextMenu.path)
                                        contextMenu.close()
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }

        Rectangle {
            objectName: "refreshButton"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.topMargin: 174
            anchors.rightMargin: 30
            width: 32
            height: 32
            radius: 6
            color: "#333641"

            Image {
                anchors.centerIn: parent
                width: 19
                height: 19
                source: "qrc:/res/image/kiv_refresh.png"
            }
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    itemArea.curentIndex = -1
                    kiv.refresh()
                }
            }
        }

        Rectangle {
            objectName: "dimmer"
            anchors.fill: parent
            color: "#1A1B21"
            opacity: 0.8
            visible: subWindow.item !== null && subWindow.item.visible
        }
    }

    Loader {
        id: subWindow
        objectName: "subWindow"
    }

    FramelessWindow {
        id: toast
        objectName: "toast"
        flags: Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
        needShadow: false
        color: "transparent"
        // Whole pixels, so the text is never clipped by a fraction.
        width: Math.ceil(toastText.width) + 24
        height: Math.ceil(toastText.height) + 16
        onVisibleChanged: {
            if (visible)
                toastTimer.start()
        }

        Rectangle {
            anchors.fill: parent
            color: "#000000"
            radius: 8

            Text {
                id: toastText
                objectName: "toastText"
                x: 12
                y: 8
                color: "#F4F4F4"
            }
        }

        Timer {
            id: toastTimer
            objectName: "toastTimer"
            interval: 2500
            onTriggered: toast.hide()
        }
    }

    // Built on first use (see common/ImportDialog.qml).
    property var fileDialog: null

    function importDialog() {
        if (!fileDialog) {
            var component = Qt.createComponent("qrc:/qml/common/ImportDialog.qml")
            fileDialog = component.createObject(mainWin, { folder: kiv.defaultPath() })
            fileDialog.accepted.connect(function() {
                importUrls(fileDialog.fileUrls, fileDialog.selectFolder, true)
            })
        }
        return fileDialog
    }

    Connections {
        target: kiv
        function onShowToast(tips) {
            showToast(tips)
        }
        function onCloseExe() {
            mainWin.close()
        }
        function onShowWelcomePage() {
            loadPage("HelloPage")
            showSubWin()
        }
        function onShowWaitPage(uuid) {
            var page = loadPage("WaitPage")
            page.uuid = uuid
            showSubWin()
            page.requestActivate()
        }
        function onShowIportResPage(tips) {
            var page = loadPage("TipsPage")
            page.tipsText = tips
            showSubWin()
        }
    }

    Connections {
        target: kiv.fileList
        ignoreUnknownSignals: true
        function onSelectIndex(index) {
            itemArea.curentIndex = index
        }
    }

    Connections {
        target: kivupdate
        function onUpdateSignal(note, isForce) {
            var page = loadPage("UpdatePage")
            page.note = note
            page.isForce = isForce
            showSubWin()
        }
    }
}
