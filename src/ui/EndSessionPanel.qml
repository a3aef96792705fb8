// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// The end-of-session panel, centred above the others.
Window {
    id: panel
    property string message
    property int seconds: 10
    signal closeRequested()

    width: 420
    height: 280
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    title: qsTr("Session terminée")
    color: Theme.raisedBackground

    EndSessionView {
        anchors.fill: parent
        radius: 0
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
