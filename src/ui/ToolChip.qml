// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Ui

// A tool of the stage's bar: a symbol (and maybe a text and a chevron) in a
// 32-point chip. With entries it opens a menu of choices
// [{text, icon, checked, action}].
AbstractButton {
    id: chip
    property string iconName
    property string label
    property bool chevron: false
    property var entries: null

    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    implicitHeight: 32
    implicitWidth: row.implicitWidth + 20
    onClicked: if (entries) menu.popup(chip, 0, chip.height + 4)

    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 6
            Icon { visible: chip.iconName !== ""; name: chip.iconName; size: 15; color: Theme.text; anchors.verticalCenter: parent.verticalCenter }
            PlainText {
                visible: chip.label !== ""
                text: chip.label
                color: Theme.text
                font.pixelSize: 13
                font.weight: Font.DemiBold
                anchors.verticalCenter: parent.verticalCenter
            }
            Icon { visible: chip.chevron; name: "chevron.down"; size: 10; color: Theme.secondary; anchors.verticalCenter: parent.verticalCenter }
        }
    }
    background: Rectangle {
        radius: 8
        color: chip.down ? Theme.tint(Theme.text, 0.12) : chip.hovered ? Theme.tint(Theme.text, 0.08) : Theme.tint(Theme.controlBackground, 0.85)
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    Menu {
        id: menu
        Repeater {
            model: chip.entries || []
            delegate: MenuItem {
                required property var modelData
                onTriggered: modelData.action()
                contentItem: Row {
                    spacing: 8
                    Item {
                        width: 14; height: 14
                        anchors.verticalCenter: parent.verticalCenter
                        Icon { visible: modelData.checked === true; name: "checkmark"; size: 14; color: Theme.accent }
                    }
                    Icon {
                        visible: (modelData.icon || "") !== ""
                        name: modelData.icon || ""
                        size: 14
                        color: Theme.text
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    PlainText { text: modelData.text; color: Theme.text; font.pixelSize: Theme.body; anchors.verticalCenter: parent.verticalCenter }
                }
                background: Rectangle { radius: 4; color: parent.highlighted ? Theme.tint(Theme.accent, 0.15) : "transparent" }
            }
        }
        background: Rectangle {
            implicitWidth: 240
            radius: 8
            color: Theme.raisedBackground
            border.width: 1
            border.color: Theme.separator
        }
    }
}
