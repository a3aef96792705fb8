// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// Who asks to connect, the code its screen shows too (when it has one),
// whether the clipboard will be shared (a click switches it), with
// "Refuser" (Escape) and "Autoriser" (Return).
Rectangle {
    id: view
    property string avatar
    property string name
    property bool clipboard: true
    property string code
    signal accepted()
    signal rejected()
    signal clipboardToggled(bool on)

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
            Layout.bottomMargin: 20
            spacing: 10
            Item {
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: 128
                implicitHeight: 128
                Item {
                    anchors.fill: parent
                    visible: view.avatar !== ""
                    Image {
                        anchors.fill: parent
                        source: view.avatar ? view.avatar + "/circle" : ""
                        fillMode: Image.PreserveAspectCrop
                        sourceSize: Qt.size(256, 256)
                    }
                }
                Icon {
                    visible: view.avatar === ""
                    anchors.centerIn: parent
                    name: "person.crop.circle.fill"
                    size: 128
                    color: Theme.secondary
                }
            }
            PlainText {
                objectName: "requesterName"
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: view.width - 40
                text: view.name
                color: Theme.text
                font.pixelSize: 28
                elide: Text.ElideRight
            }
            PlainText {
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("souhaite se connecter à votre ordinateur")
                color: Theme.secondary
                font.pixelSize: 15
            }
            Item { Layout.fillHeight: true }
            ColumnLayout {
                objectName: "verificationCode"
                visible: view.code !== ""
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: view.width - 40
                spacing: 2
                PlainText {
                    Layout.alignment: Qt.AlignHCenter
                    text: qsTr("Code de vérification")
                    color: Theme.secondary
                    font.pixelSize: 13
                }
                PlainText {
                    Layout.alignment: Qt.AlignHCenter
                    text: view.code
                    color: Theme.text
                    font.pixelSize: 26
                    font.family: "monospace"
                    font.weight: Font.DemiBold
                }
                PlainText {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.maximumWidth: view.width - 40
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    text: qsTr("La personne qui se connecte voit le même code. S’il diffère, refusez.")
                    color: Theme.secondary
                    font.pixelSize: 12
                }
            }
            UiButton {
                objectName: "joinClipboard"
                Layout.alignment: Qt.AlignHCenter
                kind: "plain"
                tint: view.clipboard ? Theme.text : Theme.secondary
                iconName: "doc.on.clipboard"
                text: view.clipboard ? qsTr("Presse-papiers partagé") : qsTr("Presse-papiers coupé")
                onClicked: view.clipboardToggled(!view.clipboard)
            }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: Theme.separator }

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 88
            Row {
                anchors.centerIn: parent
                spacing: 16
                UiButton {
                    objectName: "refuse"
                    width: 150
                    height: 46
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
                    objectName: "allow"
                    width: 170
                    height: 46
                    kind: "prominent"
                    iconName: "checkmark.circle.fill"
                    text: qsTr("Autoriser")
                    fontSize: 15
                    fontWeight: Font.DemiBold
                    radius: 10
                    onClicked: view.accepted()
                }
            }
        }
    }
}
