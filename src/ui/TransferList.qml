// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// File transfers, one row each: the way it goes, the name, a bar, where it
// stands (sizes and speed) and, while it runs, a button that cancels it.
// rows: as the session gives them [{id, name, outgoing, state, fraction, detail, active}].
ColumnLayout {
    id: list
    property var rows: []
    property color textColor: Theme.text
    property color secondaryColor: Theme.secondary
    signal cancelRequested(string id)

    spacing: 8
    Repeater {
        model: list.rows
        delegate: RowLayout {
            required property var modelData
            objectName: "transfer-" + modelData.name
            Layout.fillWidth: true
            spacing: 10
            Icon {
                name: modelData.outgoing ? "arrow.up.doc" : "arrow.down.doc"
                size: 22
                color: modelData.state === "failed" || modelData.state === "declined" ? Theme.red
                       : modelData.state === "done" ? Theme.green : list.textColor
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 3
                PlainText {
                    objectName: "transferName"
                    Layout.fillWidth: true
                    text: modelData.name
                    color: list.textColor
                    font.pixelSize: Theme.subheadline
                    elide: Text.ElideMiddle
                }
                Rectangle {
                    Layout.fillWidth: true
                    visible: modelData.active
                    height: 4
                    radius: 2
                    color: Qt.rgba(0.5, 0.5, 0.5, 0.3)
                    Rectangle {
                        width: parent.width * modelData.fraction
                        height: parent.height
                        radius: 2
                        color: Theme.accent
                    }
                }
                PlainText {
                    objectName: "transferDetail"
                    Layout.fillWidth: true
                    text: modelData.detail
                    color: list.secondaryColor
                    font.pixelSize: Theme.caption
                    elide: Text.ElideRight
                }
            }
            UiButton {
                objectName: "cancelTransfer"
                visible: modelData.active
                kind: "plain"
                tint: list.secondaryColor
                iconName: "xmark.circle.fill"
                onClicked: list.cancelRequested(modelData.id)
            }
        }
    }
}
