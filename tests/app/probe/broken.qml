import QtQuick 2.14
import QtPelago.Window 1.0

FramelessWindow {
    visible: true
    NoSuchItemType {}
}
