import QtQuick
import Lunor.Ui

// The floating HUD: bottom right, above the others, never taking the keyboard.
Window {
    id: window
    property string avatar
    property string name
    property var startedAt
    signal quitRequested()

    width: 560
    height: 110
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint | Qt.WindowDoesNotAcceptFocus
    title: "Lunor Remote"
    color: "#1b1d22"

    HudView {
        anchors.fill: parent
        avatar: window.avatar
        name: window.name
        startedAt: window.startedAt
        onQuit: window.quitRequested()
    }
}
