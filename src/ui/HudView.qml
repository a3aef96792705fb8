// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// Who is connected and for how long, with "Quitter"; files dropped on it
// go to the client, and the session's transfers are listed under it.
Rectangle {
    id: hud
    property string avatar
    property string name
    property var startedAt
    property date now: new Date()
    property bool ticking: true
    property bool clipboard: true
    property var transfers: []
    property bool acceptsFiles: false
    signal quit()
    signal clipboardToggled(bool on)
    signal filesDropped(var urls)
    signal cancelRequested(string id)

    radius: 18
    gradient: Gradient {
        orientation: Gradient.Horizontal
        GradientStop { position: 0; color: "#2c2f36" }
        GradientStop { position: 1; color: "#1b1d22" }
    }
    border.width: drop.containsDrag ? 2 : 1
    border.color: drop.containsDrag ? Theme.accent : Qt.rgba(1, 1, 1, 0.12)

    DropArea {
        id: drop
        objectName: "hudDrop"
        anchors.fill: parent
        enabled: hud.acceptsFiles
        onDropped: function (event) {
            if (!event.hasUrls) return
            hud.filesDropped(event.urls)
            event.accept(Qt.CopyAction)
        }
    }

    Timer {
        interval: 1000
        repeat: true
        running: hud.ticking && hud.visible
        onTriggered: hud.now = new Date()
    }

    TransferList {
        objectName: "hudTransfers"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 16
        visible: hud.transfers.length > 0
        rows: hud.transfers
        textColor: "white"
        secondaryColor: "#b8bcc6"
        onCancelRequested: function (id) { hud.cancelRequested(id) }
    }

    RowLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 16
        height: 78
        spacing: 14
        Item {
            implicitWidth: 44
            implicitHeight: 44
            Item {
                anchors.fill: parent
                visible: hud.avatar !== ""
                Image { anchors.fill: parent; source: hud.avatar ? hud.avatar + "/circle" : ""; fillMode: Image.PreserveAspectCrop; sourceSize: Qt.size(88, 88) }
            }
            Icon { visible: hud.avatar === ""; anchors.centerIn: parent; name: "person.crop.circle.fill"; size: 44; color: "#b8bcc6" }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            PlainText { text: qsTr("Client connecté"); color: "white"; font.pixelSize: Theme.headline; font.weight: Font.DemiBold }
            PlainText { objectName: "hudName"; text: hud.name; color: "#d7dae0"; font.pixelSize: Theme.subheadline; elide: Text.ElideRight; Layout.fillWidth: true }
            Row {
                spacing: 6
                Rectangle { width: 8; height: 8; radius: 4; color: "#30d158"; anchors.verticalCenter: parent.verticalCenter }
                PlainText { text: "•"; color: "#b8bcc6"; font.pixelSize: Theme.subheadline }
                PlainText {
                    objectName: "elapsed"
                    text: UiText.elapsed(hud.startedAt || new Date(NaN), hud.now)
                    color: "white"
                    font.pixelSize: Theme.subheadline
                    font.family: "monospace"
                }
            }
        }
        UiButton {
            objectName: "hudClipboard"
            kind: "plain"
            tint: hud.clipboard ? "white" : "#8e9199"
            iconName: "doc.on.clipboard"
            text: hud.clipboard ? qsTr("Presse-papiers partagé") : qsTr("Presse-papiers coupé")
            onClicked: hud.clipboardToggled(!hud.clipboard)
        }
        UiButton {
            objectName: "hudQuit"
            kind: "prominent"
            tint: "#ff453a"
            text: qsTr("Quitter")
            fontWeight: Font.DemiBold
            onClicked: hud.quit()
        }
    }
}
