// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// One host of the address book.
Rectangle {
    id: card
    required property var connection
    signal connectRequested(string sessionId)
    signal renameRequested(string sessionId, string currentName)
    signal moveRequested(string sessionId)
    signal deleteRequested(string sessionId)
    readonly property bool hasName: connection.name !== undefined && connection.name !== null && connection.name !== ""

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
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                PlainText {
                    objectName: "cardTitle"
                    Layout.fillWidth: true
                    text: card.hasName ? card.connection.name : UiText.prettyId(card.connection.sessionId)
                    color: Theme.text
                    font.pixelSize: Theme.headline
                    font.bold: true
                    elide: Text.ElideRight
                }
                PlainText {
                    text: card.connection.sessionId
                    color: Theme.secondary
                    font.pixelSize: Theme.caption
                }
            }
            MenuButton {
                objectName: "cardMenu"
                entries: [
                    {text: qsTr("Renommer"), action: () => card.renameRequested(card.connection.sessionId, card.hasName ? card.connection.name : "")},
                    {text: qsTr("Déplacer dans…"), action: () => card.moveRequested(card.connection.sessionId)},
                    {separator: true},
                    {text: qsTr("Supprimer"), destructive: true, action: () => card.deleteRequested(card.connection.sessionId)}
                ]
            }
        }
        UiButton {
            objectName: "cardConnect"
            Layout.topMargin: 4
            kind: "prominent"
            text: qsTr("Se connecter")
            fontSize: Theme.subheadline
            onClicked: card.connectRequested(card.connection.sessionId)
        }
    }
}
