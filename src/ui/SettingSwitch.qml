// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Ui

// A switch of the settings sheet: green when on, its label at its right.
Switch {
    id: control
    contentItem: PlainText {
        leftPadding: control.indicator.width + 8
        text: control.text
        color: Theme.text
        font.pixelSize: Theme.body
        verticalAlignment: Text.AlignVCenter
    }
    indicator: Rectangle {
        implicitWidth: 40
        implicitHeight: 22
        x: control.leftPadding
        y: (control.height - height) / 2
        radius: 11
        color: control.checked ? Theme.green : Theme.tint(Theme.grey, 0.45)
        Behavior on color { ColorAnimation { duration: 150 } }
        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: 18; height: 18; radius: 9
            color: "white"
            Behavior on x { NumberAnimation { duration: 150 } }
        }
    }
}
