import QtQuick 2.14

// The palette every scene shares; the main window holds the one instance, "utils".
QtObject {
    readonly property string kiv_font: "Source Han Sans CN Medium"
    readonly property string kiv_backgroundcolor: "#1A1B21"
    readonly property string kiv_itemdowncolor: "#22242C"
    readonly property string kiv_btnbackgroundcolor: "#393939"
}
