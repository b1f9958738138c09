import QtQuick 2.14
import QtTest 1.2
import "SceneHelper.js" as Scene

TestCase {
    id: testCase
    name: "MainWindow"

    property var win: null

    function item(name) {
        var found = Scene.find(win, name)
        verify(found, "no item named " + name)
        return found
    }

    function open(rowCount) {
        kiv.reset(Scene.rows(rowCount))
        kivupdate.reset()
        var component = Qt.createComponent("qrc:/qml/mainWindow.qml")
        compare(component.status, Component.Ready, component.errorString())
        win = component.createObject(null)
        verify(win)
        settle()
    }

    // Lets layouts and views catch up with a change, as the next frame would.
    function settle() {
        wait(30)
    }

    function cleanup() {
        if (win) {
            var page = item("subWindow").item
            if (page)
                page.close()
            win.destroy()
            win = null
        }
        wait(0)
    }

    function test_crumbs_data() {
        return [
            { tag: "home", labels: ["首页"], click: 0 },
            { tag: "second of three", labels: ["首页", "A", "B"], click: 1 },
            { tag: "current folder", labels: ["首页", "A", "B"], click: 2 }
        ]
    }

    // Every label calls setFile with its own index (the manager decides what that means) and
    // drops the highlight, which belonged to the folder being left.
    function test_crumbs(data) {
        open(4)
        kiv.curPathList = data.labels.slice(0, -1).concat(
                    ['<font color="#99FFFFFF">' + data.labels[data.labels.length - 1] + '</font>'])
        settle()
        item("itemArea").curentIndex = 2
        var area = item("crumb" + data.click)
        mouseClick(area)
        compare(kiv.calls, ["setFile(" + data.click + ")"])
        compare(item("itemArea").curentIndex, -1)
    }

    function test_crumbs_first_has_no_arrow() {
        open(1)
        kiv.curPathList = ["首页", "A", '<font color="#99FFFFFF">B</font>']
        settle()
        for (var i = 0; i < 3; ++i) {
            var row = item("crumb" + i).parent.parent
            compare(row.children[0].visible, i !== 0, "arrow of crumb " + i)
        }
    }

    function test_views_follow_manager_data() {
        return [
            { tag: "grid", grid: true, empty: false, gridShown: true, listShown: false },
            { tag: "list", grid: false, empty: false, gridShown: false, listShown: true },
            { tag: "grid, empty", grid: true, empty: true, gridShown: false, listShown: false },
            { tag: "list, empty", grid: false, empty: true, gridShown: false, listShown: false }
        ]
    }

    function test_views_follow_manager(data) {
        open(data.empty ? 0 : 3)
        kiv.setShowGridView(data.grid)
        compare(item("gridView").visible, data.gridShown)
        compare(item("listColumn").visible, data.listShown)
        compare(item("emptyState").visible, data.empty)
    }

    function test_grid_has_five_columns() {
        open(6)
        var grid = item("gridView")
        tryVerify(function() { return Scene.find(grid, "gridCell5") !== null })
        compare(Scene.find(grid, "gridCell4").y, Scene.find(grid, "gridCell0").y)
        compare(Scene.find(grid, "gridCell5").x, Scene.find(grid, "gridCell0").x)
        verify(Scene.find(grid, "gridCell5").y > Scene.find(grid, "gridCell0").y)
    }

    // A double-click in the grid opens and drops the highlight; in the list it keeps it.
    function test_double_click_data() {
        return [
            { tag: "grid", grid: true, name: "gridCell", indexAfter: -1 },
            { tag: "list", grid: false, name: "listRow", indexAfter: 1 }
        ]
    }

    function test_double_click(data) {
        open(3)
        kiv.setShowGridView(data.grid)
        kiv.clearCalls()
        settle()
        var target = item(data.name + "1")
        mouseDoubleClickSequence(target, 40, 40)
        compare(kiv.calls, ['fileAction(0,101,"/videos/clip 1.mp4")'])
        compare(item("itemArea").curentIndex, data.indexAfter)
    }

    function test_click_highlights() {
        open(3)
        var cell = item("gridCell2")
        mouseClick(cell, 30, 30)
        compare(item("itemArea").curentIndex, 2)
        mouseClick(item("gridCell0"), 30, 30, Qt.RightButton)
        compare(item("itemArea").curentIndex, 0)
        compare(kiv.calls, [])
    }

    // The menu remembers the entry it was opened for and hands it to every action.
    function test_context_menu_data() {
        return [
            { tag: "grid, open", grid: true, row: 1, entry: 0 },
            { tag: "grid, remove", grid: true, row: 2, entry: 1 },
            { tag: "list, show location", grid: false, row: 0, entry: 2 }
        ]
    }

    function test_context_menu(data) {
        open(3)
        kiv.setShowGridView(data.grid)
        kiv.clearCalls()
        settle()
        var target = item((data.grid ? "gridCell" : "listRow") + data.row)
        mouseClick(target, 50, 20, Qt.RightButton)
        var menu = item("contextMenu")
        verify(menu.opened || menu.visible)
        var corner = target.mapToItem(menu.parent, 0, 0)
        compare(menu.x, corner.x + 50)
        compare(menu.y, corner.y + 20 + 10)
        compare(item("itemArea").curentIndex, data.row)
        var entry = item("contextEntry" + data.entry)
        mouseClick(entry)
        var row = Scene.rows(3)[data.row]
        compare(kiv.calls, ["fileAction(" + data.entry + "," + row.id + ',"' + row.abspath + '")'])
        tryCompare(menu, "visible", false)
    }

    function test_select_index_from_model() {
        open(4)
        kiv.fileList.selectIndex(3)
        compare(item("itemArea").curentIndex, 3)
    }

    function test_refresh() {
        open(2)
        item("itemArea").curentIndex = 1
        mouseClick(item("refreshButton"))
        compare(kiv.calls, ["refresh()"])
        compare(item("itemArea").curentIndex, -1)
    }

    Component {
        id: dragSource
        Rectangle {
            width: 20
            height: 20
            Drag.dragType: Drag.Internal
            Drag.hotSpot.x: 10
            Drag.hotSpot.y: 10
        }
    }

    // A drag without files still ends the import, so the manager reports what happened.
    function test_drop_without_urls() {
        open(0)
        var area = item("itemArea")
        var source = dragSource.createObject(area, { x: 100, y: 100 })
        source.Drag.active = true
        source.x = 200
        source.Drag.drop()
        compare(kiv.calls, ["importFileReport(false,false)"])
        source.destroy()
    }

    function test_import_urls_in_order() {
        open(0)
        win.importUrls(["file:///videos/a.mp4", "file:///videos/b folder"], false, false)
        compare(kiv.calls, ['addFile("file:///videos/a.mp4")', 'addFile("file:///videos/b folder")',
                            "importFileReport(false,false)"])
    }

    function test_width_snaps_back() {
        open(0)
        win.width = 1500
        tryCompare(win, "width", 1360)
        compare(win.height, 875)
        win.height = 700
        tryCompare(win, "height", 700)
        compare(win.width, 1360)
    }

    function test_close_icon() {
        open(0)
        mouseClick(item("closeArea"))
        compare(kiv.calls, ["closeApp()"])
        verify(!win.visible)
    }

    function test_system_close_data() {
        return [{ tag: "no page", page: false }, { tag: "with a page", page: true }]
    }

    function test_system_close(data) {
        open(0)
        if (data.page)
            kiv.showWelcomePage()
        win.closeAll()
        compare(kiv.calls, ["closeApp()"])
        verify(!win.visible)
        if (data.page)
            verify(!item("subWindow").item.visible)
    }

    // The upload in closeApp() waits in an event loop where another close request can arrive;
    // whichever comes second finds the window on its way out and does nothing more.
    function test_close_runs_once_data() {
        return [
            { tag: "icon, then the window system", icon: [true, false] },
            { tag: "the window system twice", icon: [false, false] },
            { tag: "the window system, then the icon", icon: [false, true] }
        ]
    }

    function test_close_runs_once(data) {
        open(0)
        for (var i = 0; i < data.icon.length; ++i) {
            if (data.icon[i])
                item("closeArea").clicked()
            else
                win.closeAll()
        }
        compare(kiv.calls, ["closeApp()"])
        verify(!win.visible)
    }

    function test_close_exe() {
        open(0)
        kiv.closeExe()
        verify(!win.visible)
        compare(kiv.calls, [])
    }

    function test_settings_popup_shows_version_and_name() {
        open(0)
        kiv.userName = "Living room PC"
        mouseClick(item("settingsButton"))
        var popup = item("settingsPopup")
        tryCompare(popup, "visible", true)
        compare(item("versionText").text, "1.0.9.78")
        compare(item("deviceNameText").text, "Living room PC")
    }

    function test_settings_popup_names_the_player_addresses() {
        open(0)
        kiv.lanAddress = "http://192.168.100.200:22824"
        mouseClick(item("settingsButton"))
        var popup = item("settingsPopup")
        tryCompare(popup, "visible", true)
        // Asked afresh at every opening: the PC's address may have changed since.
        compare(kiv.calls, ["loadLanAddress()"])
        compare(item("playerAddressText0").text, "http://192.168.100.200:22824/deovr")
        var longest = item("playerAddressText1")
        compare(longest.text, "http://192.168.100.200:22824/heresphere")
        // The longest address of its kind stays on one line, inside the popup.
        compare(longest.lineCount, 1)
        var right = longest.mapToItem(popup.contentItem, longest.contentWidth, 0).x
        verify(right <= popup.width, right)
        // Without an address the lines go, rather than showing "/deovr" alone.
        kiv.lanAddress = ""
        tryCompare(item("playerAddresses"), "visible", false)
    }

    function test_edit_name_fills_the_page() {
        open(0)
        kiv.userName = "Study"
        mouseClick(item("settingsButton"))
        tryCompare(item("settingsPopup"), "visible", true)
        mouseClick(item("editNameArea"))
        var page = item("subWindow").item
        verify(page)
        compare(page.textEditItem.text, "Study")
        verify(page.visible)
        verify(item("dimmer").visible)
    }

    function test_help_opens_page() {
        open(0)
        mouseClick(item("helpButton"))
        var page = item("subWindow").item
        verify(page)
        compare(item("subWindow").source.toString(), "qrc:/qml/windows/FeedbackPage.qml")
        verify(page.visible)
    }

    function test_import_menu_entries_set_up_the_dialog_data() {
        return [
            { tag: "folder", entry: "importFolderEntry", folder: true, multiple: false },
            { tag: "files", entry: "importFilesEntry", folder: false, multiple: true }
        ]
    }

    function test_import_menu_entries_set_up_the_dialog(data) {
        open(0)
        mouseClick(item("importButton"))
        var menu = item("importMenu")
        tryCompare(menu, "visible", true)
        mouseClick(item(data.entry))
        var dialog = win.fileDialog
        verify(dialog)
        compare(dialog.objectName, "fileDialog")
        compare(dialog.selectFolder, data.folder)
        compare(dialog.selectMultiple, data.multiple)
        if (!data.folder)
            compare(dialog.nameFilters, ["Video files (*.mkv *.mp4 *.3gp *.avi *.flv *.m4v *.mov *.mpeg *.mpg *.webm *.wmv)"])
        tryCompare(menu, "visible", false)
        dialog.close()
    }
}
