// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// One permission: its dot, its title, what is missing and how to fix it.
Rectangle {
    id: row
    property string title
    property string status: "unknown"
    property string missingText
    property string fixActionTitle
    signal fix()
    signal request()
    readonly property bool granted: status === "granted"

    implicitHeight: content.implicitHeight + 20
    radius: 10
    color: Theme.tint(granted ? Theme.green : Theme.red, 0.08)

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 10
        spacing: 10
        StatusDot { status: row.status }
        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            PlainText { text: row.title; color: Theme.text; font.pixelSize: Theme.subheadline; font.weight: Font.DemiBold }
            PlainText {
                text: row.granted ? qsTr("Tout est prêt") : qsTr("%1 • Clique sur “Ouvrir Réglages”").arg(row.missingText)
                color: Theme.secondary
                font.pixelSize: Theme.caption
                Layout.fillWidth: true
                elide: Text.ElideRight
            }
        }
        Icon { visible: row.granted; name: "checkmark.seal.fill"; color: Theme.green; size: 18 }
        UiButton { visible: !row.granted; text: qsTr("Re-vérifier"); fontSize: Theme.caption; onClicked: row.request() }
        UiButton { visible: !row.granted; kind: "prominent"; text: row.fixActionTitle; fontSize: Theme.caption; onClicked: row.fix() }
    }
}
