// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// One of the home screen's two big choices.
AbstractButton {
    id: button
    property string iconName
    property string title
    property string subtitle
    property color color: Theme.blue

    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    padding: 24
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    scale: hovered && enabled ? 1.02 : 1.0
    Behavior on scale { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
    Keys.onReturnPressed: if (enabled) clicked()
    Keys.onEnterPressed: if (enabled) clicked()

    background: Item {
        // The shadow, drawn as a soft darker plate under the card.
        Rectangle {
            anchors.fill: parent
            anchors.topMargin: button.hovered ? 4 : 2
            anchors.bottomMargin: button.hovered ? -6 : -3
            anchors.leftMargin: 2
            anchors.rightMargin: 2
            radius: 18
            color: Qt.rgba(0, 0, 0, button.hovered ? 0.15 : 0.08)
            Behavior on anchors.bottomMargin { NumberAnimation { duration: 200 } }
        }
        Rectangle {
            anchors.fill: parent
            radius: 16
            color: Theme.controlBackground
            border.width: button.visualFocus ? 2 : 1
            border.color: button.visualFocus ? Theme.tint(Theme.accent, 0.6) : Theme.hairline
        }
    }

    contentItem: RowLayout {
        spacing: 12
        Item {
            Layout.preferredWidth: 60
            Layout.preferredHeight: 44
            Icon { anchors.centerIn: parent; name: button.iconName; color: button.color; size: 40 }
        }
        ColumnLayout {
            spacing: 3
            Layout.fillWidth: true
            PlainText { text: button.title; color: Theme.text; font.pixelSize: Theme.title2; font.weight: Font.DemiBold }
            PlainText { text: button.subtitle; color: Theme.secondary; font.pixelSize: Theme.subheadline }
        }
        Icon { name: "chevron.right"; color: Theme.secondary; size: 16 }
    }
}
