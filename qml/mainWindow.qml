import QtQuick 2.14
import QtQuick.Layouts 1.2
import KIVManager 1.0
import QtPelago.Window 1.0
import "./windows"
import "./common"
import "./main"

// The main window. Its parts (main/) say what a person did through their own signals; this file
// alone hands that to the manager "kiv", hosts the pages and follows the manager's signals.
FramelessWindow {
    id: mainWin

    // Set by the first close; the upload inside kiv.closeApp() waits in an event loop where a
    // second close request (the icon, the window system) can arrive.
    property bool closeStarted: false

    // Shows text in the toast below the middle of the window. A toast that is already up takes
    // the new text but keeps its timer, so it still goes 2.5 s after it first appeared.
    function showToast(text) {
        toast.text = text
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

    function openImportDialog(folder) {
        var dialog = importDialog()
        if (folder) {
            dialog.selectMultiple = false
            dialog.selectFolder = true
        } else {
            dialog.selectFolder = false
            dialog.selectMultiple = true
            dialog.nameFilters = [kiv.videoNameFilter]
        }
        dialog.open()
    }

    // The one way out, for the close icon and the window system's request alike.
    function closeOnce() {
        if (closeStarted)
            return
        closeStarted = true
        if (subWindow.item)
            subWindow.item.close()
        kiv.closeApp()
        mainWin.close()
    }

    visible: true
    title: qsTr("Velnor")
    width: utils.kiv_windowwidth
    height: utils.kiv_windowheight
    color: "transparent"
    titleBar: titleRow

    // The layout is drawn for this width only; maximising or a window manager must not change it.
    onWidthChanged: {
        if (width !== utils.kiv_windowwidth) {
            width = utils.kiv_windowwidth
            height = utils.kiv_windowheight
        }
    }

    Component.onCompleted: {
        addIgnore(titleRow.label)
        addIgnore(titleRow.stretch)
    }

    onCloseAll: closeOnce()

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

            TitleBar {
                id: titleRow
                Layout.fillWidth: true
                Layout.fillHeight: false
                Layout.preferredHeight: utils.kiv_titleheight
                version: kivupdate.version()
                deviceName: kiv.userName
                playerAddress: kiv.lanAddress
                onSettingsOpened: kiv.loadLanAddress()
                onImportFolderRequested: openImportDialog(true)
                onImportFilesRequested: openImportDialog(false)
                onHelpRequested: {
                    loadPage("FeedbackPage")
                    showSubWin()
                }
                onEditNameRequested: {
                    var page = loadPage("SetUserName")
                    page.textEditItem.text = kiv.userName
                    showSubWin()
                    page.requestActivate()
                }
                onMinimiseRequested: mainWin.showMinimized()
                onCloseRequested: closeOnce()
            }

            Breadcrumbs {
                Layout.fillWidth: true
                Layout.preferredHeight: utils.kiv_crumbsheight
                labels: kiv.curPathList
                onCrumbClicked: {
                    itemArea.curentIndex = -1
                    kiv.setFile(index)
                }
            }

            Item {
                id: itemArea
                objectName: "itemArea"

                // The highlighted row of the current folder, -1 for none.
                property int curentIndex: -1

                Layout.topMargin: utils.kiv_margin
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
                            color: utils.kiv_textcolor
                        }
                    }
                }

                GridBrowser {
                    anchors.horizontalCenter: parent.horizontalCenter
                    height: parent.height
                    visible: kiv.showGridView && !kiv.hasNoneData
                    model: kiv.fileList
                    highlightIndex: itemArea.curentIndex
                    onSelected: itemArea.curentIndex = index
                    onMenuRequested: contextMenu.openAt(at, x, y, entryId, path)
                    // Opening leaves the grid for what was opened, so the highlight goes.
                    onActivated: {
                        itemArea.curentIndex = -1
                        kiv.fileAction(0, entryId, path)
                    }
                }

                ListBrowser {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: parent.width - 2 * utils.kiv_margin
                    height: parent.height
                    visible: !kiv.showGridView && !kiv.hasNoneData
                    model: kiv.fileList
                    highlightIndex: itemArea.curentIndex
                    onSelected: itemArea.curentIndex = index
                    onMenuRequested: contextMenu.openAt(at, x, y, entryId, path)
                    onActivated: kiv.fileAction(0, entryId, path)
                }

                EntryMenu {
                    id: contextMenu
                    onChosen: kiv.fileAction(action, entryId, path)
                }
            }
        }

        IconButton {
            objectName: "refreshButton"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.topMargin: 174
            anchors.rightMargin: utils.kiv_margin
            width: 32
            height: 32
            radius: 6
            iconSize: 19
            color: utils.kiv_itemselectcolor
            source: "qrc:/res/image/kiv_refresh.png"
            onClicked: {
                itemArea.curentIndex = -1
                kiv.refresh()
            }
        }

        Rectangle {
            objectName: "dimmer"
            anchors.fill: parent
            color: utils.kiv_backgroundcolor
            opacity: 0.8
            visible: subWindow.item !== null && subWindow.item.visible
        }
    }

    Loader {
        id: subWindow
        objectName: "subWindow"
    }

    Toast {
        id: toast
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
