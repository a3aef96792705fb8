// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// The floating HUD: bottom right, above the others, never taking the keyboard.
Window {
    id: window
    property string avatar
    property string name
    property var startedAt
    property bool clipboard: true
    property var transfers: []
    property bool acceptsFiles: false
    signal quitRequested()
    signal clipboardToggled(bool on)
    signal filesDropped(var urls)
    signal cancelRequested(string id)

    width: 560
    // The transfers' rows under the bar, the last three at most.
    height: 110 + Math.min(transfers.length, 3) * 52
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint | Qt.WindowDoesNotAcceptFocus
    title: "Lunor Remote"
    color: "#1b1d22"

    HudView {
        anchors.fill: parent
        avatar: window.avatar
        name: window.name
        startedAt: window.startedAt
        clipboard: window.clipboard
        transfers: window.transfers.slice(-3)
        acceptsFiles: window.acceptsFiles
        onFilesDropped: function (urls) { window.filesDropped(urls) }
        onCancelRequested: function (id) { window.cancelRequested(id) }
        onQuit: window.quitRequested()
        onClipboardToggled: function (on) { window.clipboard = on; window.clipboardToggled(on) }
    }
}
