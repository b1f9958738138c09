.pragma library

// Rows shaped like the manager's listing: videos are filetype 0, folders 2.
function rows(count) {
    var list = []
    for (var i = 0; i < count; ++i) {
        var folder = i % 3 === 2
        list.push({
            "id": 100 + i,
            "filename": (folder ? "folder " : "clip ") + i + (folder ? "" : ".mp4"),
            "videoDefinition": folder ? "未知" : "1080P",
            "size": folder ? "0 B" : (i + 1) + ".00 MB",
            "duration": folder ? "00:00:00" : "00:00:0" + (i % 10),
            "filetype": folder ? 2 : 0,
            "coverimage": folder ? "qrc:/res/image/file_big.png" : "qrc:/res/image/video.png",
            "abspath": "/videos/" + (folder ? "folder " : "clip ") + i + (folder ? "" : ".mp4")
        })
    }
    return list
}

// The first object below root (items, popups and windows alike) whose objectName is name.
function find(root, name) {
    if (!root)
        return null
    if (root.objectName === name)
        return root
    var kids = []
    if (root.data !== undefined) {
        kids = root.data
    } else if (root.contentItem !== undefined) {
        // A popup: its items hang below its content item, not below the popup object.
        kids = [root.contentItem]
        if (root.background)
            kids.push(root.background)
    }
    for (var i = 0; i < kids.length; ++i) {
        var hit = find(kids[i], name)
        if (hit)
            return hit
    }
    return null
}
