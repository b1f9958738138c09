import QtQuick 2.14
import QtTest 1.2
import "SceneHelper.js" as Scene

TestCase {
    name: "Pages"

    property var win: null

    function item(name) {
        var found = Scene.find(win, name)
        verify(found, "no item named " + name)
        return found
    }

    function page() {
        return item("subWindow").item
    }

    function pageItem(name) {
        var found = Scene.find(page(), name)
        verify(found, "no page item named " + name)
        return found
    }

    function init() {
        kiv.reset([])
        kivupdate.reset()
    }

    function openMain() {
        win = Qt.createComponent("qrc:/qml/mainWindow.qml").createObject(null)
        verify(win)
        win.x = 200
        win.y = 100
        tryCompare(win, "x", 200)
        tryCompare(win, "y", 100)
        wait(30)
    }

    function cleanup() {
        if (win) {
            if (page())
                page().close()
            Scene.find(win, "toast").hide()
            win.destroy()
            win = null
        }
        wait(0)
    }

    function test_show_sub_win_data() {
        return [
            { tag: "welcome", show: function() { kiv.showWelcomePage() }, file: "HelloPage", w: 520, h: 360 },
            { tag: "wait", show: function() { kiv.showWaitPage("u-1") }, file: "WaitPage", w: 380, h: 314 },
            { tag: "result", show: function() { kiv.showIportResPage("导入成功1个文件") }, file: "TipsPage", w: 380 },
            { tag: "update", show: function() { kivupdate.updateSignal("fixes", false) }, file: "UpdatePage", w: 420 },
            { tag: "help", show: function() { mouseClick(item("helpButton")) }, file: "FeedbackPage", w: 600, h: 488 }
        ]
    }

    // Pages stand at fixed offsets from the main window, not at its centre, and dim it.
    function test_show_sub_win(data) {
        openMain()
        verify(!item("dimmer").visible)
        data.show()
        compare(item("subWindow").source.toString(), "qrc:/qml/windows/" + data.file + ".qml")
        var p = page()
        verify(p.visible)
        compare(p.width, data.w)
        if (data.h !== undefined)
            compare(p.height, data.h)
        // Window positions are whole pixels.
        tryVerify(function() { return Math.abs(p.x - (200 + 700 - p.width / 2)) < 1 })
        tryVerify(function() { return Math.abs(p.y - (100 + 440 - p.height / 2)) < 1 })
        compare(p.needShadow, false)
        compare(p.parentWin, win)
        verify(item("dimmer").visible)
        p.close()
        verify(!item("dimmer").visible)
    }

    function test_english_layouts_data() {
        return [
            { tag: "welcome, Chinese", english: false, show: "welcome", h: 360 },
            { tag: "welcome, English", english: true, show: "welcome", h: 440 },
            { tag: "help, Chinese", english: false, show: "help", h: 488 },
            { tag: "help, English", english: true, show: "help", h: 558 }
        ]
    }

    function test_english_layouts(data) {
        kiv.english = data.english
        openMain()
        if (data.show === "welcome")
            kiv.showWelcomePage()
        else
            mouseClick(item("helpButton"))
        compare(page().height, data.h)
    }

    // The host keeps a page that is asked for again and sets it up afresh; another page
    // replaces it.
    function test_page_reuse() {
        openMain()
        kiv.showWaitPage("first")
        var wait1 = page()
        compare(wait1.uuid, "first")
        kiv.showWaitPage("second")
        verify(page() === wait1)
        compare(wait1.uuid, "second")
        verify(wait1.visible)

        kiv.showIportResPage("done")
        var tips = page()
        verify(tips !== wait1)
        compare(tips.tipsText, "done")
        mouseClick(pageItem("okButton"))
        verify(!tips.visible)
        verify(!item("dimmer").visible)
        kiv.showIportResPage("done again")
        verify(page() === tips)
        compare(tips.tipsText, "done again")
        verify(tips.visible)
    }

    function test_wait_page_cancel_names_its_request() {
        openMain()
        kiv.showWaitPage("3f2c-uuid")
        mouseClick(pageItem("cancelButton"))
        compare(kiv.calls, ['cacelAction("3f2c-uuid")'])
        verify(!page().visible)
        verify(win.visible)
    }

    // Only the page of the request that went unanswered goes, and not through a cancel.
    function test_wait_page_closes_for_its_unanswered_request() {
        openMain()
        kiv.showWaitPage("mine")
        kiv.closeWaitPage("an earlier one")
        verify(page().visible)
        kiv.closeWaitPage("mine")
        verify(!page().visible)
        verify(!item("dimmer").visible)
        compare(kiv.calls, [])
    }

    function test_result_page_grows_with_text() {
        openMain()
        kiv.showIportResPage("导入成功")
        var shortHeight = page().height
        kiv.showIportResPage("导入成功12个文件，失败3个文件，失败的文件可能已损坏或者格式不受支持，请检查后重试")
        verify(page().height > shortHeight)
        compare(page().width, 380)
    }

    function test_update_install_data() {
        return [
            { tag: "installer started", result: true, pageOpen: false, mainOpen: false, toast: false },
            { tag: "installer failed", result: false, pageOpen: true, mainOpen: true, toast: true }
        ]
    }

    function test_update_install(data) {
        openMain()
        kivupdate.setupResult = data.result
        kivupdate.updateSignal("1. faster import", true)
        mouseClick(pageItem("installButton"))
        compare(kivupdate.calls, ["setup()"])
        compare(page().visible, data.pageOpen)
        compare(win.visible, data.mainOpen)
        var toast = Scene.find(win, "toast")
        compare(toast.visible, data.toast)
        if (data.toast)
            compare(Scene.find(toast, "toastText").text, "安装失败请重试！")
        // Leaving through the update page does not go through the manager's close.
        compare(kiv.calls, [])
    }

    function test_update_cancel_data() {
        return [
            { tag: "forced", force: true, mainOpen: false },
            { tag: "optional", force: false, mainOpen: true }
        ]
    }

    function test_update_cancel(data) {
        openMain()
        kivupdate.updateSignal("notes", data.force)
        compare(pageItem("forceLabel").visible, data.force)
        mouseClick(pageItem("cancelButton"))
        verify(!page().visible)
        compare(win.visible, data.mainOpen)
        compare(kivupdate.calls, [])
    }

    function test_update_page_follows_content() {
        openMain()
        kivupdate.updateSignal("notes", false)
        var optionalHeight = page().height
        kivupdate.updateSignal("notes", true)
        verify(page().height > optionalHeight)
        var note = pageItem("noteLabel")
        kivupdate.updateSignal("x".repeat(120), false)
        verify(note.lineCount > 1)
        verify(note.width <= 340)
        verify(note.contentWidth <= 340)
    }

    function test_set_user_name() {
        openMain()
        kiv.userName = "Office"
        mouseClick(item("settingsButton"))
        tryCompare(item("settingsPopup"), "visible", true)
        kiv.clearCalls() // the popup asked for the players' address
        mouseClick(item("editNameArea"))
        var input = pageItem("nameInput")
        compare(input.text, "Office")
        input.forceActiveFocus()
        input.selectAll()
        input.text = "  Den PC "
        keyClick(Qt.Key_Return)
        compare(kiv.calls, [])
        verify(page().visible)
        mouseClick(pageItem("confirmButton"))
        compare(kiv.calls, ['setPersonalName("  Den PC ")'])
        verify(!page().visible)
    }

    function test_set_user_name_cancel() {
        openMain()
        mouseClick(item("settingsButton"))
        tryCompare(item("settingsPopup"), "visible", true)
        kiv.clearCalls() // the popup asked for the players' address
        mouseClick(item("editNameArea"))
        mouseClick(pageItem("cancelButton"))
        compare(kiv.calls, [])
        verify(!page().visible)
    }

    function test_closing_buttons_data() {
        return [
            { tag: "welcome", show: function() { kiv.showWelcomePage() } },
            { tag: "help", show: function() { mouseClick(item("helpButton")) } },
            { tag: "result", show: function() { kiv.showIportResPage("ok") } }
        ]
    }

    function test_closing_buttons(data) {
        openMain()
        data.show()
        mouseClick(pageItem("okButton"))
        verify(!page().visible)
        verify(win.visible)
        compare(kiv.calls, [])
    }
}
