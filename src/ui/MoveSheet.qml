// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// Where a connection goes: no folder, or one of the folders.
Sheet {
    id: sheet
    property var folders: []
    // folderId: "" for none.
    signal chosen(string folderId)
    padding: 14

    contentItem: ColumnLayout {
        spacing: 12
        PlainText { text: qsTr("Déplacer dans…"); color: Theme.text; font.pixelSize: Theme.headline; font.bold: true }
        Rectangle {
            Layout.preferredWidth: 320
            Layout.preferredHeight: 260
            radius: 8
            color: Theme.field
            border.width: 1
            border.color: Theme.separator
            ListView {
                id: list
                anchors.fill: parent
                anchors.margins: 4
                clip: true
                model: [{id: "", name: qsTr("Sans dossier"), icon: "tray"}].concat(
                           sheet.folders.map(f => ({id: f.id, name: f.name, icon: "folder"})))
                delegate: ItemDelegate {
                    required property var modelData
                    width: ListView.view.width
                    height: 34
                    onClicked: { sheet.chosen(modelData.id); sheet.close() }
                    contentItem: Row {
                        spacing: 8
                        Icon { name: modelData.icon; color: Theme.blue; size: 16; anchors.verticalCenter: parent.verticalCenter }
                        PlainText { text: modelData.name; color: Theme.text; font.pixelSize: Theme.body; anchors.verticalCenter: parent.verticalCenter }
                    }
                    background: Rectangle { radius: 6; color: parent.hovered ? Theme.tint(Theme.accent, 0.12) : "transparent" }
                }
            }
        }
        UiButton { Layout.alignment: Qt.AlignRight; text: qsTr("Fermer"); onClicked: sheet.close() }
    }
}
