import QtQuick 2.14

// The folder on show as a grid of five columns.
GridView {
    id: grid

    // The highlighted row, -1 for none.
    property int highlightIndex: -1

    signal selected(int index)
    signal menuRequested(int entryId, string path, Item at, real x, real y)
    signal activated(int entryId, string path)

    objectName: "gridView"
    width: 1300
    clip: true
    focus: true
    cellWidth: 260
    cellHeight: 268

    delegate: GridCell {
        objectName: "gridCell" + index
        entryId: model.id
        path: model.abspath
        isVideo: model.filetype === 0
        name: model.filename
        cover: model.coverimage
        duration: model.duration
        size: model.size
        highlighted: index === grid.highlightIndex
        onSelected: grid.selected(index)
        onMenuRequested: grid.menuRequested(entryId, path, at, x, y)
        onActivated: grid.activated(entryId, path)
    }
}
