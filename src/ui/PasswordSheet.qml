// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// The host asks for its unattended-access password.
Sheet {
    id: sheet
    // Why it is asked again ("Mot de passe incorrect"), or nothing.
    property string notice
    signal submitted(string password)
    padding: 18

    keyboardItem: field
    onAboutToShow: field.text = ""

    contentItem: ColumnLayout {
        spacing: 12
        PlainText { text: qsTr("Accès non surveillé"); color: Theme.text; font.pixelSize: Theme.headline; font.bold: true }
        PlainText {
            objectName: "passwordNotice"
            visible: sheet.notice !== ""
            text: sheet.notice
            color: Theme.red
            font.pixelSize: Theme.subheadline
            font.bold: true
        }
        UiTextField {
            id: field
            objectName: "remotePassword"
            Layout.preferredWidth: 360
            placeholderText: qsTr("Mot de passe distant")
            echoMode: TextInput.Password
            onAccepted: proceed.clicked()
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            UiButton { text: qsTr("Annuler"); onClicked: sheet.close() }
            UiButton {
                id: proceed
                kind: "prominent"
                text: qsTr("Continuer")
                onClicked: { sheet.submitted(field.text); sheet.close() }
            }
        }
    }
}
