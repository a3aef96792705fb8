// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Ui

// A text field with a rounded border.
TextField {
    id: field
    color: Theme.text
    placeholderTextColor: Theme.tint(Theme.secondary, 0.8)
    font.pixelSize: Theme.body
    selectByMouse: true
    leftPadding: 10
    rightPadding: 10
    topPadding: 7
    bottomPadding: 7
    background: Rectangle {
        radius: 7
        color: Theme.field
        border.width: field.activeFocus ? 2 : 1
        border.color: field.activeFocus ? Theme.tint(Theme.accent, 0.7) : Theme.separator
    }
}
