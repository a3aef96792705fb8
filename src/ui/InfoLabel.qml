// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// A small coloured label: symbol and text on a tinted pill.
Item {
    id: label
    property string icon
    property string text
    property color color: Theme.blue

    implicitWidth: row.implicitWidth + 20
    implicitHeight: row.implicitHeight + 12

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: Theme.tint(label.color, 0.10)
    }
    Row {
        id: row
        anchors.centerIn: parent
        spacing: 5
        Icon { name: label.icon; color: label.color; size: 13; anchors.verticalCenter: parent.verticalCenter }
        PlainText {
            text: label.text
            color: label.color
            font.pixelSize: Theme.caption
            font.weight: Font.Medium
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
