// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Client
import Lunor.Ui

// The client's session: the tool bar above the host's picture. Files
// dropped on the picture (or chosen from the bar) go to the host; the
// transfers are listed over its bottom right corner.
Rectangle {
    id: stageView
    required property ClientSession session
    property bool isConnected
    property string sessionId
    property int displayMode: 0
    property string selectedQuality: "medium"
    // Asked from the tool bar: a separate session's screen takes the
    // picture area's size, in pixels, once a resize settles.
    property bool fitsScreen: false
    signal backRequested()
    signal disconnectRequested()

    color: "black"

    ColumnLayout {
        anchors.fill: parent
        spacing: 0
        TopBar {
            id: bar
            Layout.fillWidth: true
            isConnected: stageView.isConnected
            sessionId: stageView.sessionId
            displayMode: stageView.displayMode
            onDisplayModeChanged: stageView.displayMode = displayMode
            selectedQuality: stageView.selectedQuality
            onSelectedQualityChanged: stageView.selectedQuality = selectedQuality
            connectionState: SessionWords.linkState(stageView.session.linkState)
            linkSummary: stageView.session.linkSummary
            linkLimited: stageView.session.linkLimited
            separateSession: stageView.session.features.separateSession
            fitsScreen: stageView.fitsScreen
            onSetFitsScreen: function (on) { stageView.fitsScreen = on }
            clipboardShared: stageView.session.features.clipboardShared
            clipboardSending: stageView.session.features.clipboardSending
            clipboardReceiving: stageView.session.features.clipboardReceiving
            onSetClipboardSending: function (on) { stageView.session.features.clipboardSending = on }
            onSetClipboardReceiving: function (on) { stageView.session.features.clipboardReceiving = on }
            availableDisplays: stageView.session.availableDisplays
            currentDisplayIndex: stageView.session.currentDisplayIndex
            onBackRequested: stageView.backRequested()
            onDisconnectRequested: stageView.disconnectRequested()
            onSwitchDisplay: function (index) { stageView.session.requestDisplaySwitch(index) }
            onRequestQuality: function (quality) { stageView.session.requestQuality(quality) }
            onHardRefresh: stageView.session.requestHardRefresh()
            onToggleFullscreen: Desktop.toggleFullScreen(stageView.Window.window)
            onScreenshot: Desktop.saveScreenshot(stageView.session)
            filesShared: stageView.session.features.filesShared
            onSendFiles: function (urls) { stageView.session.features.sendFiles(urls) }
        }
        Stage {
            id: stage
            objectName: "stage"
            onWidthChanged: fitTimer.restart()
            onHeightChanged: fitTimer.restart()
            Layout.fillWidth: true
            Layout.fillHeight: true
            session: stageView.session
            displayMode: stageView.displayMode

            DropArea {
                id: drop
                objectName: "stageDrop"
                anchors.fill: parent
                enabled: stageView.session.features.filesShared
                onDropped: function (event) {
                    if (!event.hasUrls) return
                    stageView.session.features.sendFiles(event.urls)
                    event.accept(Qt.CopyAction)
                }
            }
            Rectangle {
                anchors.fill: parent
                visible: drop.containsDrag
                color: Qt.rgba(0, 0.48, 1, 0.18)
                border.width: 3
                border.color: Theme.accent
                PlainText {
                    anchors.centerIn: parent
                    text: qsTr("Déposer pour envoyer à l’hôte")
                    color: "white"
                    font.pixelSize: 22
                    font.weight: Font.DemiBold
                }
            }
            Rectangle {
                objectName: "stageTransfers"
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 16
                width: 340
                height: transfers.implicitHeight + 24
                radius: 12
                visible: stageView.session.features.transfers.length > 0
                color: Qt.rgba(0.11, 0.11, 0.13, 0.88)
                TransferList {
                    id: transfers
                    anchors.fill: parent
                    anchors.margins: 12
                    rows: stageView.session.features.transfers.slice(-4)
                    textColor: "white"
                    secondaryColor: "#b8bcc6"
                    onCancelRequested: function (id) { stageView.session.features.cancelFile(id) }
                }
            }
        }
    }

    onFitsScreenChanged: fitTimer.restart()
    Connections {
        target: stageView.session.features
        function onClipboardChanged() { fitTimer.restart() }  // the host's features are known
    }
    Timer {
        id: fitTimer
        interval: 400
        onTriggered: {
            if (!stageView.fitsScreen || !stageView.session.features.separateSession) return
            const ratio = stageView.Screen.devicePixelRatio || 1
            stageView.session.requestScreenSize(Math.round(stage.width * ratio), Math.round(stage.height * ratio))
        }
    }
}
