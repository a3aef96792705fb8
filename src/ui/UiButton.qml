// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Ui

// The application's buttons. kind: "plain" (text only), "bordered",
// "prominent" (filled with the tint), "ghost" (outlined in the tint).
Button {
    id: control
    property string kind: "bordered"
    property string iconName
    property color tint: Theme.accent
    property int fontSize: Theme.body
    property int fontWeight: Font.Normal
    property int radius: 7
    readonly property color foreground: !enabled ? Theme.secondary
                                      : kind === "prominent" ? "white"
                                      : kind === "ghost" ? tint
                                      : kind === "plain" ? tint
                                      : Theme.text

    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    font.pixelSize: fontSize
    font.weight: fontWeight
    leftPadding: kind === "plain" ? 6 : 12
    rightPadding: kind === "plain" ? 6 : 12
    topPadding: 6
    bottomPadding: 6
    // Return and Enter press a focused button, as Space does.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: row.implicitHeight
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 6
            Icon {
                visible: control.iconName !== ""
                name: control.iconName
                size: control.fontSize + 2
                color: control.foreground
                anchors.verticalCenter: parent.verticalCenter
            }
            PlainText {
                visible: control.text !== ""
                text: control.text
                font: control.font
                color: control.foreground
                elide: Text.ElideRight
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    background: Rectangle {
        implicitHeight: 30
        radius: control.radius
        color: {
            if (control.kind === "prominent") {
                const base = control.enabled ? control.tint : Theme.grey
                return control.down ? Qt.darker(base, 1.15) : control.hovered ? Qt.lighter(base, 1.08) : base
            }
            if (control.kind === "ghost")
                return control.hovered ? Theme.tint(control.tint, 0.12) : Theme.tint(control.tint, 0.04)
            if (control.kind === "plain")
                return control.hovered ? Theme.tint(Theme.text, 0.06) : "transparent"
            return control.down ? Theme.tint(Theme.text, 0.10)
                 : control.hovered ? Theme.tint(Theme.text, 0.06) : Theme.controlBackground
        }
        border.width: control.kind === "bordered" || control.kind === "ghost" ? 1 : 0
        border.color: control.kind === "ghost" ? Theme.tint(control.tint, 0.6) : Theme.separator
        Rectangle {
            // Keyboard focus ring.
            anchors.fill: parent
            anchors.margins: -3
            radius: parent.radius + 3
            color: "transparent"
            border.width: 2
            border.color: Theme.tint(Theme.accent, 0.55)
            visible: control.visualFocus
        }
        Behavior on color { ColorAnimation { duration: 120; easing.type: Easing.OutQuad } }
    }
}
