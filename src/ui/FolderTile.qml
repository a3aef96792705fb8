// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// One folder of the address book.
Rectangle {
    id: tile
    required property string name
    required property int count
    signal open()
    signal rename()
    signal remove()

    implicitWidth: 220
    implicitHeight: column.implicitHeight + 28
    radius: 12
    color: Theme.controlBackground
    border.width: 1
    border.color: Theme.hairline

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 14
        spacing: 6
        RowLayout {
            Layout.fillWidth: true
            Icon { name: "folder.fill"; color: Theme.blue; size: 26 }
            Item { Layout.fillWidth: true }
            MenuButton {
                entries: [
                    {text: qsTr("Renommer"), action: () => tile.rename()},
                    {text: qsTr("Supprimer"), destructive: true, action: () => tile.remove()}
                ]
            }
        }
        PlainText {
            Layout.fillWidth: true
            text: tile.name
            color: Theme.text
            font.pixelSize: Theme.title3
            font.bold: true
            elide: Text.ElideRight
        }
        PlainText { text: UiText.connectionCount(tile.count); color: Theme.secondary; font.pixelSize: Theme.caption }
        UiButton { Layout.topMargin: 4; text: qsTr("Ouvrir"); fontSize: Theme.subheadline; onClicked: tile.open() }
    }
}
