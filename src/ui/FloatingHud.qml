import QtQuick
import Lunor.Ui

// The floating HUD: bottom right, above the others, never taking the keyboard.
Window {
    id: window
    property string avatar
    property string name
    property var startedAt
    property bool clipboard: true
    signal quitRequested()
    signal clipboardToggled(bool on)

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
        clipboard: window.clipboard
        onQuit: window.quitRequested()
        onClipboardToggled: function (on) { window.clipboard = on; window.clipboardToggled(on) }
    }
}
