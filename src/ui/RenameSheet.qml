// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// A name to edit: "OK" passes the text as typed (an empty one too).
Sheet {
    id: sheet
    property string title
    property string text
    signal submitted(string text)

    keyboardItem: field
    onAboutToShow: field.text = sheet.text
    onOpened: field.selectAll()

    contentItem: ColumnLayout {
        spacing: 12
        PlainText { text: sheet.title; color: Theme.text; font.pixelSize: Theme.headline; font.bold: true }
        UiTextField {
            id: field
            objectName: "renameField"
            Layout.preferredWidth: 300
            onAccepted: ok.clicked()
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            UiButton { text: qsTr("Annuler"); onClicked: sheet.close() }
            UiButton {
                id: ok
                objectName: "renameOk"
                kind: "prominent"
                text: qsTr("OK")
                onClicked: { sheet.submitted(field.text); sheet.close() }
            }
        }
    }
}
