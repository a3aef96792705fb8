// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Ui

// A symbol that opens a menu of actions: [{text, destructive, separator, action}].
UiButton {
    id: button
    property var entries: []
    kind: "plain"
    iconName: "ellipsis.circle"
    tint: Theme.secondary
    fontSize: Theme.title3
    onClicked: menu.popup(button, 0, button.height)

    Menu {
        id: menu
        Repeater {
            model: button.entries
            delegate: MenuItem {
                required property var modelData
                text: modelData.text
                height: modelData.separator ? 9 : implicitHeight
                enabled: !modelData.separator
                onTriggered: if (modelData.action) modelData.action()
                contentItem: Item {
                    implicitWidth: label.implicitWidth + 8
                    implicitHeight: label.implicitHeight
                    Rectangle {
                        visible: modelData.separator === true
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width; height: 1
                        color: Theme.separator
                    }
                    PlainText {
                        id: label
                        visible: modelData.separator !== true
                        text: modelData.text || ""
                        color: modelData.destructive ? Theme.red : Theme.text
                        font.pixelSize: Theme.body
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
                background: Rectangle {
                    color: parent.highlighted && !modelData.separator ? Theme.tint(Theme.accent, 0.15) : "transparent"
                    radius: 4
                }
            }
        }
        background: Rectangle {
            implicitWidth: 200
            radius: 8
            color: Theme.raisedBackground
            border.width: 1
            border.color: Theme.separator
        }
    }
}
