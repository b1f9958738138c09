import QtQuick 2.14
import QtTest 1.2
import "SceneHelper.js" as Scene

TestCase {
    name: "SortPopup"

    property var win: null

    function item(name) {
        var found = Scene.find(win, name)
        verify(found, "no item named " + name)
        return found
    }

    function init() {
        kiv.reset(Scene.rows(3))
        win = Qt.createComponent("qrc:/qml/mainWindow.qml").createObject(null)
        verify(win)
        wait(30)
    }

    function cleanup() {
        win.destroy()
        win = null
        wait(0)
    }

    // A person's press on the sort icon: the pointer gets there first.
    function pressIcon() {
        var icon = item("sortIcon")
        mouseMove(icon, 25, 25)
        mouseClick(icon, 25, 25)
    }

    function openPopup() {
        pressIcon()
        var popup = item("settingPage")
        tryCompare(popup, "opened", true)
        return popup
    }

    function test_icon_toggles_the_popup() {
        var popup = openPopup()
        pressIcon()
        tryCompare(popup, "visible", false)
        compare(item("sortIcon").hasShow, false)
        pressIcon()
        tryCompare(popup, "visible", true)
    }

    function test_press_elsewhere_closes_and_icon_opens_again() {
        var popup = openPopup()
        mouseMove(item("itemArea"), 10, 400)
        mouseClick(item("itemArea"), 10, 400)
        tryCompare(popup, "visible", false)
        compare(item("sortIcon").hasShow, false)
        pressIcon()
        tryCompare(popup, "visible", true)
    }

    function test_escape_closes() {
        var popup = openPopup()
        mouseMove(item("itemArea"), 10, 400)
        keyClick(Qt.Key_Escape)
        tryCompare(popup, "visible", false)
        pressIcon()
        tryCompare(popup, "visible", true)
    }

    // Starting state agrees with the manager's start: grid, by name, upward.
    function test_buttons_data() {
        return [
            { tag: "selected view", clicks: ["viewButton0"], calls: [] },
            { tag: "selected key", clicks: ["sortKeyButton0"], calls: [] },
            { tag: "selected direction", clicks: ["directionButton0"], calls: [] },
            { tag: "list view", clicks: ["viewButton1"], calls: ["setShowGridView(false)"] },
            { tag: "list, then grid", clicks: ["viewButton1", "viewButton0"],
              calls: ["setShowGridView(false)", "setShowGridView(true)"] },
            { tag: "list twice", clicks: ["viewButton1", "viewButton1"], calls: ["setShowGridView(false)"] },
            { tag: "by date", clicks: ["sortKeyButton1"], calls: ["setSortType(1,0)"] },
            { tag: "by size", clicks: ["sortKeyButton2"], calls: ["setSortType(2,0)"] },
            { tag: "downward", clicks: ["directionButton1"], calls: ["setSortType(0,1)"] },
            { tag: "size, then downward", clicks: ["sortKeyButton2", "directionButton1"],
              calls: ["setSortType(2,0)", "setSortType(2,1)"] },
            { tag: "downward, then date, then date", clicks: ["directionButton1", "sortKeyButton1", "sortKeyButton1"],
              calls: ["setSortType(0,1)", "setSortType(1,1)"] }
        ]
    }

    function test_buttons(data) {
        var popup = openPopup()
        for (var i = 0; i < data.clicks.length; ++i)
            mouseClick(item(data.clicks[i]))
        compare(kiv.calls, data.calls)
        // Each click leaves the popup open for the next choice.
        verify(popup.visible)
    }

    function test_choices_survive_closing() {
        var popup = openPopup()
        mouseClick(item("sortKeyButton2"))
        mouseClick(item("viewButton1"))
        mouseMove(item("itemArea"), 10, 400)
        keyClick(Qt.Key_Escape)
        tryCompare(popup, "visible", false)
        pressIcon()
        tryCompare(popup, "visible", true)
        compare(popup.sortKeyIndex, 2)
        compare(popup.viewIndex, 1)
        compare(item("sortKeyButton2").color, "#177be6")
        compare(item("sortKeyButton0").color, "#292a33")
    }

    function test_placement() {
        var popup = openPopup()
        var icon = item("sortIcon")
        compare(popup.width, 620)
        compare(popup.height, 449)
        compare(popup.x, icon.width - popup.width)
        compare(popup.y, icon.height + 20)
    }
}
