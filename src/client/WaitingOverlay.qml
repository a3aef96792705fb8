// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls

// Over the stage while the host has not let the client in yet (or its
// person chooses what to share): why it waits, and the code the host's
// panel shows too, when there is one.
Rectangle {
    id: overlay
    property string text: qsTr("En attente d'autorisation par l'hôte…")
    property string code
    color: Qt.rgba(0, 0, 0, 0.6)

    Column {
        anchors.centerIn: parent
        spacing: 16

        BusyIndicator {
            anchors.horizontalCenter: parent.horizontalCenter
            running: parent.parent.visible
        }
        Label {
            textFormat: Text.PlainText
            anchors.horizontalCenter: parent.horizontalCenter
            text: parent.parent.text
            color: "white"
            font.pixelSize: 18
        }
        Column {
            objectName: "verificationCode"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: overlay.code !== ""
            spacing: 4
            Label {
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Code de vérification")
                color: "#d0d0d0"
                font.pixelSize: 14
            }
            Label {
                textFormat: Text.PlainText
                anchors.horizontalCenter: parent.horizontalCenter
                text: overlay.code
                color: "white"
                font.pixelSize: 30
                font.family: "monospace"
                font.weight: Font.DemiBold
            }
            Label {
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("L’ordinateur distant affiche le même code avec votre demande.")
                color: "#d0d0d0"
                font.pixelSize: 14
            }
        }
    }
}
