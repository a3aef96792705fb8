// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls

// Over the stage while the host has not let the client in yet (or its
// person chooses what to share): why it waits.
Rectangle {
    property string text: qsTr("En attente d'autorisation par l'hôte…")
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
    }
}
