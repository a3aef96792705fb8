// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// The ID entry: a field for the host's session ID and the connect button.
ColumnLayout {
    id: card
    // What the field shows; the card reports the person's edits with
    // edited() and shows whatever the owner then sets here.
    property string sessionId
    property bool isConnecting: false
    property string statusText
    readonly property bool canConnect: sessionId.length >= 4 && !isConnecting
    signal connectRequested()
    signal edited(string text)

    spacing: 14

    function focusField() { field.forceActiveFocus() }

    Icon { Layout.alignment: Qt.AlignHCenter; name: "keyboard"; size: 48; color: Theme.green }
    PlainText {
        Layout.alignment: Qt.AlignHCenter
        text: qsTr("Entrez l'ID de session")
        color: Theme.text
        font.pixelSize: Theme.title2
        font.weight: Font.DemiBold
    }
    TextField {
        id: field
        objectName: "idField"
        Layout.fillWidth: true
        placeholderText: qsTr("Ex: 123456")
        placeholderTextColor: Theme.tint(Theme.secondary, 0.6)
        text: card.sessionId
        onTextEdited: card.edited(text)
        font.pixelSize: 48
        font.weight: Font.Medium
        color: Theme.text
        horizontalAlignment: TextInput.AlignHCenter
        leftPadding: 16
        rightPadding: 16
        topPadding: 8
        bottomPadding: 8
        selectByMouse: true
        // Return in the field does nothing.
        Keys.onReturnPressed: {}
        Keys.onEnterPressed: {}
        background: Rectangle {
            radius: 12
            color: Theme.field
            border.width: 1
            border.color: field.activeFocus ? Theme.tint(Theme.green, 0.6) : Theme.tint(Theme.green, 0.2)
        }
    }
    Button {
        id: connectButton
        objectName: "connectIdButton"
        Layout.fillWidth: true
        Layout.preferredHeight: 48
        enabled: card.canConnect
        focusPolicy: Qt.StrongFocus
        onClicked: card.connectRequested()
        Keys.onReturnPressed: if (enabled) clicked()
        Keys.onEnterPressed: if (enabled) clicked()
        contentItem: Item {
          Row {
            spacing: 8
            anchors.centerIn: parent
            BusyIndicator {
                visible: card.isConnecting
                running: visible
                width: 20; height: 20
                anchors.verticalCenter: parent.verticalCenter
            }
            PlainText {
                text: card.isConnecting ? qsTr("Connexion...") : qsTr("Se connecter")
                color: "white"
                font.pixelSize: Theme.title3
                font.weight: Font.DemiBold
                anchors.verticalCenter: parent.verticalCenter
            }
          }
        }
        background: Rectangle {
            objectName: "connectFill"
            radius: 12
            color: card.sessionId.length < 4 ? Theme.grey
                 : connectButton.down ? Qt.darker(Theme.green, 1.15)
                 : connectButton.hovered ? Qt.lighter(Theme.green, 1.08) : Theme.green
            border.width: connectButton.visualFocus ? 2 : 0
            border.color: Theme.tint(Theme.accent, 0.7)
        }
    }
    PlainText {
        visible: card.statusText !== ""
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 2
        text: card.statusText
        color: Theme.secondary
        font.pixelSize: Theme.caption
    }
}
