import QtQuick 2.14

// The palette and the measures every scene shares; the main window holds the one instance,
// "utils".
QtObject {
    readonly property string kiv_font: "Source Han Sans CN Medium"
    readonly property string kiv_backgroundcolor: "#1A1B21"
    readonly property string kiv_itemdowncolor: "#22242C"
    readonly property string kiv_btnbackgroundcolor: "#393939"
    // A chosen entry, an entry under the pointer in a menu, the refresh plate.
    readonly property string kiv_itemselectcolor: "#333641"
    readonly property string kiv_accentcolor: "#4F7FFE"
    readonly property string kiv_textcolor: "#FFFFFF"
    readonly property string kiv_subtextcolor: "#A4A4A5"
    readonly property string kiv_toastcolor: "#000000"
    readonly property string kiv_toasttextcolor: "#F4F4F4"

    // The main window is drawn for this size only.
    readonly property int kiv_windowwidth: 1360
    readonly property int kiv_windowheight: 875
    readonly property int kiv_titleheight: 110
    readonly property int kiv_crumbsheight: 60
    // The gap between the window's edges and what it shows.
    readonly property int kiv_margin: 30
    readonly property int kiv_buttonsize: 40
    readonly property int kiv_iconsize: 24
    readonly property int kiv_radius: 8
}
