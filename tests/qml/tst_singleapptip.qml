import QtQuick 2.14
import QtTest 1.2
import "SceneHelper.js" as Scene

TestCase {
    name: "SingleAppTip"

    property var tip: null

    function init() {
        tip = Qt.createComponent("qrc:/qml/windows/SingleAppTip.qml").createObject(null)
        verify(tip)
    }

    function cleanup() {
        tip.destroy()
        tip = null
        wait(0)
    }

    function test_visible_at_once_with_its_title_bar() {
        verify(tip.visible)
        compare(tip.width, 400)
        compare(tip.height, 300)
        verify(tip.titleBar !== null)
    }

    function test_closes_by_itself() {
        var started = Date.now()
        tryCompare(tip, "visible", false, 6000)
        var shown = Date.now() - started
        verify(shown >= 3800, "closed after " + shown + " ms")
    }

    function test_buttons_close_data() {
        return [{ tag: "close icon", name: "closeArea" }, { tag: "confirm", name: "okArea" }]
    }

    function test_buttons_close(data) {
        wait(30)
        mouseClick(Scene.find(tip, data.name))
        verify(!tip.visible)
    }
}
