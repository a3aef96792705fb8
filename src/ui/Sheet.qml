// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Ui

// A modal sheet over the window, closed by its own buttons or Escape.
Popup {
    id: sheet
    // Opens and closes with this flag; the sheet's own closing is reported
    // by closed(), after which the owner clears the flag.
    property bool active: false
    onActiveChanged: active ? open() : close()
    Component.onCompleted: if (active) open()
    anchors.centerIn: Overlay.overlay
    modal: true
    focus: true
    padding: 18
    closePolicy: Popup.CloseOnEscape
    // What has the keyboard while the sheet is open (a field, say).
    property Item keyboardItem: null
    function takeKeyboard() { keyboardItem ? keyboardItem.forceActiveFocus() : sheet.forceActiveFocus() }
    onOpened: takeKeyboard()
    // A window activated after the sheet opened (a Wayland compositor
    // activates a new window once it has shown it) gives the keyboard back
    // to the sheet, not to the stage beneath it.
    Connections {
        target: sheet.contentItem ? sheet.contentItem.Window.window : null
        function onActiveChanged() { if (sheet.opened && target.active) sheet.takeKeyboard() }
    }
    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.35) }
    background: Rectangle {
        radius: 14
        color: Theme.raisedBackground
        border.width: 1
        border.color: Theme.hairline
    }
}
