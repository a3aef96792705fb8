// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// The incoming-file panel: a floating window above the others.
Window {
    id: panel
    property string from
    property string name
    property string size
    signal accepted()
    signal rejected()

    width: 460
    height: 300
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    title: "Lunor Remote"
    color: Theme.raisedBackground

    FileOfferView {
        anchors.fill: parent
        from: panel.from
        name: panel.name
        size: panel.size
        onAccepted: panel.accepted()
        onRejected: panel.rejected()
    }
    DragHandler {
        target: null
        onActiveChanged: if (active) panel.startSystemMove()
    }
    Shortcut { sequences: ["Return", "Enter"]; onActivated: panel.accepted() }
    Shortcut { sequence: "Escape"; onActivated: panel.rejected() }
}
