import QtQuick
import QtQuick.Layouts
import Lunor.Client
import Lunor.Ui

// The client's session: the tool bar above the host's picture.
Rectangle {
    id: stageView
    required property RemoteSession session
    property bool isConnected
    property string sessionId
    property int displayMode: 0
    property string selectedQuality: "medium"
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
            connectionState: stageView.session.connectionState
            linkSummary: stageView.session.linkSummary
            linkLimited: stageView.session.linkLimited
            clipboardShared: stageView.session.clipboardShared
            clipboardSending: stageView.session.clipboardSending
            clipboardReceiving: stageView.session.clipboardReceiving
            onSetClipboardSending: function (on) { stageView.session.clipboardSending = on }
            onSetClipboardReceiving: function (on) { stageView.session.clipboardReceiving = on }
            availableDisplays: stageView.session.availableDisplays
            currentDisplayIndex: stageView.session.currentDisplayIndex
            onBackRequested: stageView.backRequested()
            onDisconnectRequested: stageView.disconnectRequested()
            onSwitchDisplay: function (index) { stageView.session.requestDisplaySwitch(index) }
            onRequestQuality: function (quality) { stageView.session.requestQuality(quality) }
            onHardRefresh: stageView.session.requestHardRefresh()
            onToggleFullscreen: Desktop.toggleFullScreen(stageView.Window.window)
            onScreenshot: Desktop.saveScreenshot(stageView.session)
        }
        Stage {
            objectName: "stage"
            Layout.fillWidth: true
            Layout.fillHeight: true
            session: stageView.session
            displayMode: stageView.displayMode
        }
    }
}
