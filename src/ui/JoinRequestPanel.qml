// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// The join-request panel: a floating window above the others.
Window {
    id: panel
    property string avatar
    property string name
    signal accepted()
    signal rejected()

    width: 420
    height: 470
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    title: "Lunor Remote"
    color: Theme.raisedBackground

    JoinRequestView {
        anchors.fill: parent
        avatar: panel.avatar
        name: panel.name
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
