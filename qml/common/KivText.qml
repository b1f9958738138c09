import QtQuick 2.14

// The common text of the scenes: the palette font, white, 20 px.
Text {
    font.family: utils.kiv_font
    font.pixelSize: 20
    color: "#FFFFFF"
}
