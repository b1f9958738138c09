import QtQuick 2.14
import QtQuick.Dialogs 1.3

// The import file dialog, in a file of its own so that the main scene can create it by address
// on first use. The toolkit's dialog brings a whole widget set with it; named anywhere in the main
// scene, even inside a Component, it would be loaded before the first frame.
FileDialog {
    objectName: "fileDialog"
    title: "KIVPlayerAssistant"
    // Where the toolkit draws the dialog itself, its own default size is too small to browse.
    width: 900
    height: 560
    selectExisting: true
}
