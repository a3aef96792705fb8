// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// A coloured dot and a short text.
Row {
    id: label
    property string text
    property color color: Theme.green
    spacing: 6
    Rectangle { width: 6; height: 6; radius: 3; color: label.color; anchors.verticalCenter: parent.verticalCenter }
    PlainText {
        text: label.text
        color: label.color
        font.pixelSize: 12
        font.weight: Font.DemiBold
        anchors.verticalCenter: parent.verticalCenter
    }
}
