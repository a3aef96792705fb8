// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Lunor.Client
import Lunor.Ui

// The profile (names, picture) and unattended access, saved as they change.
Sheet {
    id: sheet
    required property UserProfileStore profile
    required property UnattendedAccess unattended
    // The host session, to which "forget the known computers" goes; null in tests.
    property Session hostSession: null
    property AvatarImages avatars: null

    property bool isBusyOpenPanel: false
    property bool showUnattendedEditor: false
    property bool showPasswordMismatchAlert: false
    readonly property alias mismatchAlert: mismatch
    // The switch as last seen, to tell its changes apart from other edits.
    property bool wasEnabled: false
    Component.onCompleted: wasEnabled = profile.unattendedEnabled

    padding: 20
    width: 520

    // A fresh sheet each time: the editor closed, the fields empty.
    onOpened: {
        showUnattendedEditor = false
        password.text = ""
        confirmation.text = ""
        firstName.text = profile.firstName
        lastName.text = profile.lastName
        wasEnabled = profile.unattendedEnabled
    }

    // Whoever switches unattended access, it is saved first, then the
    // password follows the switch.
    Connections {
        target: sheet.profile
        function onProfileChanged() {
            const enabled = sheet.profile.unattendedEnabled
            if (enabled === sheet.wasEnabled) return
            sheet.wasEnabled = enabled
            sheet.profile.save()
            if (enabled) {
                password.text = ""
                confirmation.text = ""
                sheet.showUnattendedEditor = true
            } else {
                sheet.unattended.forget()
            }
        }
    }

    function savePassword() {
        if (password.text === "") return
        if (password.text !== confirmation.text) {
            mismatch.open()
            return
        }
        unattended.save(password.text)
        showUnattendedEditor = false
    }

    function cancelEditor() {
        showUnattendedEditor = false
        profile.unattendedEnabled = false
        profile.save()
    }

    function choosePicture() {
        if (isBusyOpenPanel) return
        isBusyOpenPanel = true
        Qt.callLater(() => chooser.open())
    }

    contentItem: ColumnLayout {
        spacing: 16

        PlainText { text: qsTr("Profil"); color: Theme.text; font.pixelSize: Theme.headline; font.weight: Font.DemiBold }

        RowLayout {
            spacing: 18
            Item {
                Layout.alignment: Qt.AlignTop
                implicitWidth: 92
                implicitHeight: 94
                Rectangle { x: 0; y: 2; width: 92; height: 92; radius: 16; color: Qt.rgba(0, 0, 0, 0.22) }
                Rectangle {
                    width: 92; height: 92; radius: 16
                    color: Theme.controlBackground
                    border.width: 1
                    border.color: Theme.tint(Theme.grey, 0.2)
                    Image {
                        id: avatar
                        anchors.fill: parent
                        anchors.margins: 1
                        visible: source != ""
                        source: sheet.avatars && sheet.avatars.profile ? sheet.avatars.profile + "/rounded" : ""
                        fillMode: Image.PreserveAspectCrop
                        sourceSize: Qt.size(184, 184)
                    }
                    Icon {
                        visible: !avatar.visible
                        anchors.centerIn: parent
                        name: "person.crop.circle.fill"
                        size: 64
                        color: Theme.secondary
                    }
                }
            }
            ColumnLayout {
                spacing: 8
                UiTextField {
                    id: firstName
                    objectName: "firstName"
                    Layout.preferredWidth: 340
                    placeholderText: qsTr("Prénom")
                    onTextEdited: sheet.profile.firstName = text
                }
                UiTextField {
                    id: lastName
                    objectName: "lastName"
                    Layout.preferredWidth: 340
                    placeholderText: qsTr("Nom")
                    onTextEdited: sheet.profile.lastName = text
                }
                Row {
                    spacing: 8
                    UiButton { text: qsTr("Choisir une photo…"); onClicked: sheet.choosePicture() }
                    UiButton {
                        visible: sheet.avatars ? sheet.avatars.profile !== "" : false
                        text: qsTr("Supprimer la photo")
                        onClicked: sheet.profile.removeAvatar()
                    }
                }
            }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: Theme.separator }

        PlainText {
            visible: sheet.hostSession !== null
            text: qsTr("Presse-papiers"); color: Theme.text; font.pixelSize: Theme.headline; font.weight: Font.DemiBold
        }
        // Kept in the settings: the sessions started afterwards follow them too.
        ColumnLayout {
            visible: sheet.hostSession !== null
            spacing: 8
            SettingSwitch {
                objectName: "clipboardSendSwitch"
                checked: sheet.hostSession ? sheet.hostSession.features.clipboardSending : true
                onToggled: sheet.hostSession.features.clipboardSending = checked
                text: qsTr("Envoyer mon presse-papiers à l'autre ordinateur")
            }
            SettingSwitch {
                objectName: "clipboardReceiveSwitch"
                checked: sheet.hostSession ? sheet.hostSession.features.clipboardReceiving : true
                onToggled: sheet.hostSession.features.clipboardReceiving = checked
                text: qsTr("Recevoir le presse-papiers de l'autre ordinateur")
            }
            PlainText {
                Layout.preferredWidth: 470
                text: qsTr("Texte et images, dans les deux sens, avec un autre Lunor Remote. Ce qui vient de l'autre ordinateur n'est jamais renvoyé.")
                color: Theme.secondary
                font.pixelSize: Theme.caption
                wrapMode: Text.Wrap
            }
        }

        Rectangle { visible: sheet.hostSession !== null; Layout.fillWidth: true; height: 1; color: Theme.separator }

        PlainText { text: qsTr("Accès non surveillé"); color: Theme.text; font.pixelSize: Theme.headline; font.weight: Font.DemiBold }

        ColumnLayout {
            spacing: 8
            SettingSwitch {
                id: unattendedSwitch
                objectName: "unattendedSwitch"
                checked: sheet.profile.unattendedEnabled
                onToggled: sheet.profile.unattendedEnabled = checked
                text: qsTr("Autoriser l'accès sans approbation")
            }
            PlainText {
                Layout.preferredWidth: 470
                text: qsTr("Quand activé, un client qui connaît le mot de passe pourra se connecter sans que tu acceptes la popup.")
                color: Theme.secondary
                font.pixelSize: Theme.caption
                wrapMode: Text.Wrap
            }
            // The computers let in before get past a day locked by guessing.
            RowLayout {
                visible: sheet.hostSession !== null && sheet.profile.unattendedEnabled
                spacing: 10
                UiButton {
                    objectName: "forgetDevices"
                    text: qsTr("Oublier les ordinateurs connus")
                    onClicked: sheet.hostSession.forgetKnownDevices()
                }
                PlainText {
                    Layout.preferredWidth: 300
                    text: qsTr("Ils devront de nouveau être admis avant de passer un blocage du serveur.")
                    color: Theme.secondary
                    font.pixelSize: Theme.caption
                    wrapMode: Text.Wrap
                }
            }
            // Clients built before the password was proved to the host
            // itself: the server decides for them, knowingly.
            SettingSwitch {
                objectName: "unprovenClientsSwitch"
                visible: sheet.profile.unattendedEnabled
                checked: sheet.profile.acceptsUnprovenClients
                onToggled: sheet.profile.acceptsUnprovenClients = checked
                text: qsTr("Accepter les clients qui ne prouvent pas le mot de passe eux-mêmes")
            }
            PlainText {
                visible: sheet.profile.unattendedEnabled
                Layout.preferredWidth: 470
                text: sheet.profile.acceptsUnprovenClients
                      ? qsTr("Le serveur de connexion reçoit l'empreinte du mot de passe et admet lui-même ces clients : qui contrôle ce serveur peut alors voir et piloter cet ordinateur sans le mot de passe.")
                      : qsTr("Le mot de passe est vérifié par cet ordinateur : le serveur de connexion n'en reçoit rien et ne peut admettre personne.")
                color: Theme.secondary
                font.pixelSize: Theme.caption
                wrapMode: Text.Wrap
            }
        }

        ColumnLayout {
            objectName: "passwordEditor"
            visible: sheet.showUnattendedEditor
            Layout.topMargin: 8
            spacing: 8
            UiTextField {
                id: password
                objectName: "unattendedPassword"
                Layout.preferredWidth: 360
                placeholderText: qsTr("Mot de passe distant")
                echoMode: TextInput.Password
                onAccepted: sheet.savePassword()
            }
            UiTextField {
                id: confirmation
                objectName: "unattendedConfirmation"
                Layout.preferredWidth: 360
                placeholderText: qsTr("Confirmer le mot de passe")
                echoMode: TextInput.Password
                onAccepted: sheet.savePassword()
            }
            Row {
                spacing: 8
                UiButton { objectName: "editorCancel"; text: qsTr("Annuler"); onClicked: sheet.cancelEditor() }
                UiButton { objectName: "editorSave"; kind: "prominent"; text: qsTr("Enregistrer"); onClicked: sheet.savePassword() }
            }
        }

        UiButton {
            objectName: "closeSettings"
            Layout.alignment: Qt.AlignRight
            kind: sheet.showUnattendedEditor ? "bordered" : "prominent"
            text: qsTr("Fermer")
            onClicked: { sheet.profile.save(); sheet.close() }
        }
    }

    Popup {
        id: mismatch
        objectName: "mismatchAlert"
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        padding: 18
        width: 340
        Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.25) }
        background: Rectangle { radius: 12; color: Theme.raisedBackground; border.width: 1; border.color: Theme.hairline }
        onAboutToShow: sheet.showPasswordMismatchAlert = true
        onClosed: sheet.showPasswordMismatchAlert = false
        contentItem: ColumnLayout {
            spacing: 10
            PlainText {
                Layout.fillWidth: true
                text: qsTr("Les mots de passe ne correspondent pas")
                color: Theme.text
                font.pixelSize: Theme.headline
                font.bold: true
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
            PlainText {
                Layout.fillWidth: true
                text: qsTr("Vérifie la confirmation du mot de passe.")
                color: Theme.secondary
                font.pixelSize: Theme.subheadline
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
            UiButton {
                objectName: "mismatchOk"
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 100
                kind: "prominent"
                text: qsTr("OK")
                onClicked: mismatch.close()
            }
        }
    }

    FileDialog {
        id: chooser
        title: qsTr("Choisir une photo de profil")
        nameFilters: Desktop.pictureNameFilters()
        fileMode: FileDialog.OpenFile
        onAccepted: {
            sheet.profile.chooseAvatarFile(selectedFile)
            sheet.isBusyOpenPanel = false
        }
        onRejected: sheet.isBusyOpenPanel = false
    }
}
