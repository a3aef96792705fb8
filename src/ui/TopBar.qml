// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Lunor.Ui

// The stage's tool bar.
Rectangle {
    id: bar
    property bool isConnected
    property string sessionId
    property int displayMode: 0
    property string selectedQuality: "medium"
    property string connectionState
    // Shown while the link limits the picture: its rate, size and frame rate.
    property string linkSummary
    property bool linkLimited
    // The host shares a desktop of its own, not the screen in front of it.
    property bool separateSession
    // The separate session's screen follows the window's size.
    property bool fitsScreen
    signal setFitsScreen(bool on)
    // The shared clipboard, once both sides agreed on it, and its two directions.
    property bool clipboardShared
    property bool clipboardSending
    property bool clipboardReceiving
    signal setClipboardSending(bool on)
    signal setClipboardReceiving(bool on)
    // Files, once both sides agreed on them: chosen here, sent to the host.
    property bool filesShared
    signal sendFiles(var urls)
    property var availableDisplays: []
    property int currentDisplayIndex: 0
    signal backRequested()
    signal disconnectRequested()
    signal switchDisplay(int index)
    signal requestQuality(string quality)
    signal hardRefresh()
    signal toggleFullscreen()
    signal screenshot()

    readonly property var modes: [
        {text: qsTr("Adapté"), icon: "rectangle.expand.vertical"},
        {text: qsTr("Remplir"), icon: "rectangle.fill"},
        {text: "1:1", icon: ""}
    ]

    implicitHeight: 62
    color: Theme.windowBackground

    Flickable {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        contentWidth: row.implicitWidth
        flickableDirection: Flickable.HorizontalFlick
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Row {
            id: row
            height: parent.height
            spacing: 14

            UiButton {
                objectName: "leaveButton"
                anchors.verticalCenter: parent.verticalCenter
                kind: "plain"
                tint: bar.isConnected ? Theme.red : Theme.text
                fontSize: 12
                fontWeight: Font.DemiBold
                iconName: bar.isConnected ? "xmark.circle.fill" : "chevron.backward"
                text: bar.isConnected ? qsTr("Déconnecter") : qsTr("Retour")
                onClicked: bar.isConnected ? bar.disconnectRequested() : bar.backRequested()
            }
            DotLabel {
                anchors.verticalCenter: parent.verticalCenter
                text: bar.isConnected ? qsTr("Connecté") : qsTr("Déconnecté")
                color: bar.isConnected ? Theme.green : Theme.grey
            }
            DotLabel {
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("ID: %1").arg(bar.sessionId === "" ? "—" : bar.sessionId)
                color: Theme.orange
            }
            DotLabel {
                anchors.verticalCenter: parent.verticalCenter
                text: bar.connectionState
                color: Theme.blue
            }
            DotLabel {
                objectName: "separateSessionLabel"
                anchors.verticalCenter: parent.verticalCenter
                visible: bar.separateSession
                text: qsTr("Session à part")
                color: Theme.green
                ToolTip.visible: separateHover.hovered
                ToolTip.text: qsTr("Un bureau propre à cet ordinateur, que son écran ne montre pas")
                HoverHandler { id: separateHover }
            }
            DotLabel {
                objectName: "linkIndicator"
                anchors.verticalCenter: parent.verticalCenter
                visible: bar.linkLimited && bar.linkSummary !== ""
                text: bar.linkSummary
                color: Theme.orange
            }
            ToolChip {
                objectName: "modeMenu"
                anchors.verticalCenter: parent.verticalCenter
                iconName: bar.modes[bar.displayMode].icon
                label: bar.modes[bar.displayMode].text
                chevron: true
                entries: bar.modes.map((m, i) => ({text: m.text, icon: m.icon, checked: i === bar.displayMode,
                                                   action: () => bar.displayMode = i}))
            }
            ToolChip {
                objectName: "displayMenu"
                anchors.verticalCenter: parent.verticalCenter
                iconName: "rectangle.on.rectangle"
                chevron: true
                entries: (bar.availableDisplays || []).map(d => ({text: d.name + " (" + d.resolution + ")",
                                                                  checked: d.index === bar.currentDisplayIndex,
                                                                  action: () => bar.switchDisplay(d.index)}))
            }
            ToolChip {
                objectName: "qualityMenu"
                anchors.verticalCenter: parent.verticalCenter
                iconName: "slider.horizontal.3"
                chevron: true
                entries: UiText.qualities().map(q => ({text: q.label, checked: q.raw === bar.selectedQuality,
                                                        action: () => { bar.selectedQuality = q.raw; bar.requestQuality(q.raw) }}))
            }
            ToolChip {
                objectName: "fitScreenMenu"
                anchors.verticalCenter: parent.verticalCenter
                visible: bar.separateSession
                iconName: "arrow.up.left.and.arrow.down.right"
                chevron: true
                entries: [{text: qsTr("Ajuster l’écran à la fenêtre"), checked: bar.fitsScreen,
                           action: () => bar.setFitsScreen(!bar.fitsScreen)}]
            }
            ToolChip {
                objectName: "clipboardMenu"
                anchors.verticalCenter: parent.verticalCenter
                visible: bar.clipboardShared
                iconName: "doc.on.clipboard"
                chevron: true
                entries: [
                    {text: qsTr("Envoyer mon presse-papiers"), checked: bar.clipboardSending,
                     action: () => bar.setClipboardSending(!bar.clipboardSending)},
                    {text: qsTr("Recevoir celui de l'hôte"), checked: bar.clipboardReceiving,
                     action: () => bar.setClipboardReceiving(!bar.clipboardReceiving)}
                ]
            }
            ToolChip {
                objectName: "filesButton"
                anchors.verticalCenter: parent.verticalCenter
                visible: bar.filesShared
                iconName: "arrow.up.doc"
                onClicked: chooser.open()
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Envoyer des fichiers à l’hôte")
            }
            ToolChip {
                anchors.verticalCenter: parent.verticalCenter
                iconName: "exclamationmark.arrow.circlepath"
                onClicked: bar.hardRefresh()
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Rafraîchir la connexion")
            }
            ToolChip {
                anchors.verticalCenter: parent.verticalCenter
                iconName: "arrow.clockwise"
                onClicked: bar.requestQuality(bar.selectedQuality)
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Redemander la qualité")
            }
            ToolChip {
                anchors.verticalCenter: parent.verticalCenter
                iconName: "arrow.up.left.and.arrow.down.right"
                onClicked: bar.toggleFullscreen()
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Plein écran")
            }
            ToolChip {
                anchors.verticalCenter: parent.verticalCenter
                iconName: "camera.fill"
                onClicked: bar.screenshot()
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Capture d'écran")
            }
        }
    }
    Rectangle { anchors.bottom: parent.bottom; width: parent.width; height: 1; color: Theme.separator }

    FileDialog {
        id: chooser
        title: qsTr("Envoyer des fichiers à l’hôte")
        fileMode: FileDialog.OpenFiles
        onAccepted: bar.sendFiles(selectedFiles)
    }
}
