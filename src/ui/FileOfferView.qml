// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// A file the client sends, with "Refuser" (Escape) and "Accepter" (Return).
Rectangle {
    id: view
    property string from
    property string name
    property string size
    signal accepted()
    signal rejected()

    color: Theme.raisedBackground
    border.width: 1
    border.color: Theme.separator

    ColumnLayout {
        anchors.fill: parent
        spacing: 0
        ColumnLayout {
            Layout.preferredWidth: view.width
            Layout.fillHeight: true
            Layout.topMargin: 22
            Layout.bottomMargin: 16
            spacing: 8
            Icon { Layout.alignment: Qt.AlignHCenter; name: "arrow.down.doc"; size: 56; color: Theme.accent }
            PlainText {
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: view.width - 40
                text: qsTr("%1 vous envoie un fichier").arg(view.from !== "" ? view.from : qsTr("Le client"))
                color: Theme.secondary
                font.pixelSize: 15
                elide: Text.ElideRight
            }
            PlainText {
                objectName: "offeredName"
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: view.width - 40
                text: view.name
                color: Theme.text
                font.pixelSize: 20
                font.weight: Font.DemiBold
                elide: Text.ElideMiddle
            }
            PlainText {
                objectName: "offeredSize"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("%1 · dans Téléchargements, dossier « Lunor Remote »").arg(view.size)
                color: Theme.secondary
                font.pixelSize: 13
            }
            Item { Layout.fillHeight: true }
        }
        Rectangle { Layout.fillWidth: true; height: 1; color: Theme.separator }
        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 76
            Row {
                anchors.centerIn: parent
                spacing: 16
                UiButton {
                    objectName: "declineFile"
                    width: 150
                    height: 42
                    kind: "ghost"
                    tint: Theme.red
                    iconName: "xmark.circle.fill"
                    text: qsTr("Refuser")
                    fontSize: 15
                    fontWeight: Font.DemiBold
                    radius: 10
                    onClicked: view.rejected()
                }
                UiButton {
                    objectName: "acceptFile"
                    width: 170
                    height: 42
                    kind: "prominent"
                    iconName: "checkmark.circle.fill"
                    text: qsTr("Accepter")
                    fontSize: 15
                    fontWeight: Font.DemiBold
                    radius: 10
                    onClicked: view.accepted()
                }
            }
        }
    }
}
