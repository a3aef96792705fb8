// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// The join-request panel: a floating window above the others.
Window {
    id: panel
    property string avatar
    property string name
    property bool clipboard: true
    property string code
    signal accepted()
    signal rejected()
    signal clipboardToggled(bool on)

    width: 420
    height: 560
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    title: "Lunor Remote"
    color: Theme.raisedBackground

    JoinRequestView {
        anchors.fill: parent
        avatar: panel.avatar
        name: panel.name
        clipboard: panel.clipboard
        code: panel.code
        onClipboardToggled: function (on) { panel.clipboard = on; panel.clipboardToggled(on) }
        onAccepted: panel.accepted()
        onRejected: panel.rejected()
    }
    // Moved by its background.
    DragHandler {
        target: null
        onActiveChanged: if (active) panel.startSystemMove()
    }
    Shortcut { sequences: ["Return", "Enter"]; onActivated: panel.accepted() }
    Shortcut { sequence: "Escape"; onActivated: panel.rejected() }
}
