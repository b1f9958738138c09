import QtQuick 2.14

// A ring fading from transparent to blue behind a dot that leads it round.
Item {
    id: indicator

    // How often the turn repeats; 0 keeps it still, Animation.Infinite turns without end.
    property int looptime: 0

    signal animationEnd()

    function start() {
        turn.start()
    }

    implicitWidth: 40
    implicitHeight: 40

    Item {
        id: wheel
        anchors.fill: parent

        Canvas {
            id: ring
            anchors.fill: parent
            onWidthChanged: requestPaint()
            onHeightChanged: requestPaint()
            onPaint: {
                var ctx = getContext("2d")
                ctx.reset()
                var thickness = width / 8
                var radius = (width - thickness) / 2
                var cx = width / 2
                var cy = height / 2
                // Qt's conical gradient grows counter-clockwise; mirrored, the opaque end sits
                // just behind the dot at the top as the wheel turns clockwise.
                ctx.translate(cx, cy)
                ctx.scale(-1, 1)
                var gradient = ctx.createConicalGradient(0, 0, Math.PI / 2)
                gradient.addColorStop(0.0, "#001E68FF")
                gradient.addColorStop(1.0, "#FF1E68FF")
                ctx.lineWidth = thickness
                ctx.strokeStyle = gradient
                ctx.beginPath()
                ctx.arc(0, 0, radius, 0, 2 * Math.PI)
                ctx.stroke()
            }
        }

        Rectangle {
            width: indicator.width / 8
            height: width
            radius: width / 2
            color: "#1E68FF"
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.top
        }
    }

    RotationAnimation {
        id: turn
        target: wheel
        from: 0
        to: 720
        duration: 1500
        easing.type: Easing.InOutQuart
        loops: indicator.looptime
        onStopped: indicator.animationEnd()
    }

    Component.onCompleted: {
        if (looptime !== 0)
            turn.start()
    }
}
