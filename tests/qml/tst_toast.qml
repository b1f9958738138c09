import QtQuick 2.14
import QtTest 1.2
import "SceneHelper.js" as Scene

TestCase {
    name: "Toast"

    property var win: null
    property var toast: null

    function init() {
        kiv.reset([])
        win = Qt.createComponent("qrc:/qml/mainWindow.qml").createObject(null)
        verify(win)
        win.x = 120
        win.y = 60
        tryCompare(win, "x", 120)
        tryCompare(win, "y", 60)
        toast = Scene.find(win, "toast")
        verify(toast)
    }

    function cleanup() {
        toast.hide()
        win.destroy()
        win = null
        wait(0)
    }

    function checkPlacement(text) {
        var label = Scene.find(toast, "toastText")
        compare(label.text, text)
        verify(label.width > 0)
        compare(toast.width, Math.ceil(label.width) + 24)
        compare(toast.height, Math.ceil(label.height) + 16)
        // Window positions are whole pixels.
        tryVerify(function() { return Math.abs(toast.x - (win.x + 700 - toast.width / 2)) < 1 })
        tryCompare(toast, "y", win.y + 400)
    }

    function test_manager_toast_is_sized_and_placed() {
        kiv.showToast("设备名称不能为空")
        verify(toast.visible)
        checkPlacement("设备名称不能为空")
    }

    // The timer runs from the first show: a second message replaces the text but does not buy
    // the toast more time.
    function test_second_toast_keeps_first_deadline() {
        var started = Date.now()
        win.showToast("short")
        wait(1500)
        win.showToast("a considerably longer message for the toast")
        checkPlacement("a considerably longer message for the toast")
        verify(toast.visible)
        tryCompare(toast, "visible", false, 4000)
        var shown = Date.now() - started
        verify(shown >= 2400, "hid after " + shown + " ms")
        // A restarted timer would have kept it up for 4 s.
        verify(shown < 3600, "hid after " + shown + " ms")
    }

    function test_toast_shows_again_after_hiding() {
        win.showToast("one")
        tryCompare(toast, "visible", false, 4000)
        var started = Date.now()
        win.showToast("two")
        verify(toast.visible)
        tryCompare(toast, "visible", false, 4000)
        verify(Date.now() - started >= 2400)
    }

    function test_toast_stays_on_top_without_shadow() {
        verify(toast.flags & Qt.WindowStaysOnTopHint)
        verify(toast.flags & Qt.FramelessWindowHint)
        compare(toast.needShadow, false)
    }
}
