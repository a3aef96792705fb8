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
    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.35) }
    background: Rectangle {
        radius: 14
        color: Theme.raisedBackground
        border.width: 1
        border.color: Theme.hairline
    }
}
