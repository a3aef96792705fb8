import QtQuick
import Lunor.Ui

// The end-of-session panel, centred above the others.
Window {
    id: panel
    property string message
    property int seconds: 10
    signal closeRequested()

    width: 444
    height: 264
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    title: "Session terminée"
    color: Theme.windowBackground

    EndSessionView {
        anchors.fill: parent
        anchors.margins: 12
        message: panel.message
        seconds: panel.seconds
        onCloseRequested: panel.closeRequested()
    }
    DragHandler {
        target: null
        onActiveChanged: if (active) panel.startSystemMove()
    }
    Shortcut { sequences: ["Return", "Enter"]; onActivated: panel.closeRequested() }
}
