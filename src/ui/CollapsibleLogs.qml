// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// The session log under a header that shows or hides it and copies it.
ColumnLayout {
    id: logs
    property var lines: []
    property bool isOpen: false
    spacing: 0

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: headerRow.implicitHeight + 16
        color: Theme.controlBackground
        RowLayout {
            id: headerRow
            anchors.fill: parent
            anchors.leftMargin: 10
            anchors.rightMargin: 10
            UiButton {
                objectName: "toggleLogs"
                kind: "plain"
                tint: Theme.text
                fontSize: Theme.subheadline
                iconName: logs.isOpen ? "chevron.down" : "chevron.up"
                text: logs.isOpen ? qsTr("Masquer les logs") : qsTr("Afficher les logs")
                onClicked: logs.isOpen = !logs.isOpen
            }
            Item { Layout.fillWidth: true }
            UiButton {
                kind: "plain"
                tint: Theme.text
                fontSize: Theme.subheadline
                text: qsTr("Copier les logs")
                onClicked: Desktop.copyText(logs.lines.join("\n"))
            }
        }
    }

    Rectangle {
        id: panel
        Layout.fillWidth: true
        Layout.preferredHeight: logs.isOpen ? 180 : 0
        visible: Layout.preferredHeight > 0
        opacity: logs.isOpen ? 1 : 0
        clip: true
        color: Theme.logBackground
        Behavior on Layout.preferredHeight { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
        Behavior on opacity { NumberAnimation { duration: 200 } }

        ScrollView {
            anchors.fill: parent
            anchors.margins: 8
            TextArea {
                readOnly: true
                textFormat: TextEdit.PlainText
                selectByMouse: true
                wrapMode: TextEdit.NoWrap
                text: logs.lines.join("\n")
                color: Theme.logGreen
                font.family: "monospace"
                font.pixelSize: 11
                background: null
                padding: 0
                // Newest at the bottom, in view.
                onTextChanged: cursorPosition = length
            }
        }
    }
}
