// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Client
import Lunor.Ui

// The host's screen: this machine's ID to read out, the waiting and
// connection state, the log, and the end of each session.
Rectangle {
    id: screen
    required property Session session
    required property string sessionId
    property string displayName
    // How this computer's screen is shared ("X11", "Wayland (GNOME)").
    property string shareBackend
    // The floating windows; absent in tests.
    property SessionPanelWindows panels: null
    property int endAlertSeconds: 10
    signal back()

    property bool showLogs: false
    property bool isConnected: false
    property var startedAt: undefined
    property bool showEndAlert: false
    property string endMessage
    property bool hasShownEndAlert: false
    property bool didEnd: false
    readonly property string formattedId: UiText.prettyId(sessionId)
    readonly property string departure: UiText.departure(displayName, true)

    color: Theme.windowBackground

    function hostWindow() { return Window.window }

    function endOnce(reason) {
        if (didEnd) return
        didEnd = true
        session.stop(reason)
        if (panels) panels.hideHud()
        isConnected = false
    }

    function goBack() {
        if (isConnected) {
            session.stop(departure)
            isConnected = false
            if (panels) panels.hideHud()
        }
        Desktop.bringToFront(hostWindow())
        back()
    }

    function onConnected() {
        if (isConnected) return
        isConnected = true
        startedAt = new Date()
        // The session goes on in the HUD; the window steps aside.
        const window = hostWindow()
        if (window) window.hide()
        if (panels) panels.showScreenHud(session.requesterAvatar, session.requesterName, startedAt)
    }

    function showEnd(reason) {
        const start = session.startedAt && !isNaN(session.startedAt.getTime()) ? session.startedAt : startedAt
        endMessage = UiText.endMessage(reason, start || new Date(NaN), new Date())
        showEndAlert = true
        hasShownEndAlert = true
        isConnected = false
        if (panels) panels.hideHud()
        Desktop.bringToFront(hostWindow())
    }

    function shown() {
        hasShownEndAlert = false
        showEndAlert = false
        session.clearEndReason()
    }

    onVisibleChanged: if (visible) shown()
    onShowEndAlertChanged: showEndAlert ? endAlert.open() : endAlert.close()
    Component.onCompleted: shown()

    Connections {
        target: screen.session
        function onPendingJoinChanged() {
            if (!screen.session.pendingJoin || screen.session.approved) return
            screen.showEndAlert = false
            screen.hasShownEndAlert = false
            screen.session.clearEndReason()
            Desktop.bringToFront(screen.hostWindow())
        }
        function onApprovedChanged() {
            if (screen.session.approved) screen.onConnected()
        }
        function onEndReasonChanged() {
            const reason = screen.session.endReason
            if (reason !== "" && !screen.hasShownEndAlert)
                screen.showEnd(SessionWords.endReason(screen.session.endCause, reason, true))
        }
    }
    Connections {
        target: screen.panels
        function onScreenHudQuit() {
            screen.endOnce(screen.departure)
            Desktop.bringToFront(screen.hostWindow())
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        SlimHeader {
            Layout.fillWidth: true
            leftTitle: qsTr("Retour")
            onLeftAction: screen.goBack()
        }

        Flickable {
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentHeight: Math.max(height, body.implicitHeight + 48)
            clip: true
            boundsBehavior: Flickable.StopAtBounds

            ColumnLayout {
                id: body
                width: parent.width
                y: Math.max(24, (parent.height - implicitHeight) / 2)
                spacing: 22

                Row {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 10
                    InfoLabel {
                        objectName: "connectedLabel"
                        icon: screen.isConnected ? "checkmark.circle.fill" : "hourglass"
                        text: screen.isConnected ? qsTr("Connecté") : qsTr("En attente")
                        color: screen.isConnected ? Theme.green : Theme.orange
                    }
                    InfoLabel { icon: "number"; text: qsTr("ID: %1").arg(screen.formattedId); color: Theme.orange }
                    InfoLabel { icon: "wifi"; text: SessionWords.linkState(screen.session.linkState); color: Theme.blue }
                    InfoLabel {
                        objectName: "shareBackendLabel"
                        visible: screen.shareBackend !== ""
                        icon: "rectangle.on.rectangle"
                        text: screen.shareBackend
                        color: Theme.secondary
                    }
                }

                // The server stopped taking unattended passwords for this room today.
                InfoLabel {
                    objectName: "unattendedLockedLabel"
                    Layout.alignment: Qt.AlignHCenter
                    visible: screen.session.unattendedLocked
                    icon: "xmark.circle.fill"
                    text: qsTr("Accès sans surveillance bloqué pour aujourd’hui")
                    color: Theme.red
                }

                ColumnLayout {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 14
                    PlainText {
                        Layout.alignment: Qt.AlignHCenter
                        text: qsTr("Votre ID de machine")
                        color: Theme.secondary
                        font.pixelSize: Theme.title3
                    }
                    Rectangle {
                        Layout.alignment: Qt.AlignHCenter
                        implicitWidth: idText.implicitWidth + 96
                        implicitHeight: idText.implicitHeight + 44
                        radius: 18
                        color: Theme.tint(Theme.blue, 0.08)
                        border.width: 1
                        border.color: Theme.tint(Theme.blue, 0.20)
                        PlainText {
                            id: idText
                            objectName: "machineId"
                            anchors.centerIn: parent
                            text: screen.formattedId
                            color: Theme.blue
                            font.family: "monospace"
                            font.pixelSize: 64
                            font.bold: true
                        }
                    }
                    UiButton {
                        Layout.alignment: Qt.AlignHCenter
                        text: qsTr("Copier l'ID")
                        onClicked: Desktop.copyText(screen.sessionId)
                    }
                    Row {
                        Layout.alignment: Qt.AlignHCenter
                        spacing: 6
                        Icon { name: "hourglass.circle"; color: Theme.secondary; size: 15; anchors.verticalCenter: parent.verticalCenter }
                        PlainText { text: qsTr("En attente d’une connexion…"); color: Theme.secondary; font.pixelSize: Theme.subheadline }
                    }
                }

                Row {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 8
                    BusyIndicator {
                        width: 18; height: 18
                        running: screen.visible
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    PlainText {
                        objectName: "hostStatus"
                        text: SessionWords.status(screen.session.statusCode, screen.session.statusDetail)
                        color: Theme.text
                        font.pixelSize: Theme.subheadline
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }

                Row {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 8
                    UiButton {
                        iconName: "arrow.up.left.and.arrow.down.right"
                        onClicked: Desktop.toggleFullScreen(screen.hostWindow())
                        ToolTip.visible: hovered
                        ToolTip.text: qsTr("Plein écran")
                    }
                    UiButton {
                        iconName: "camera.fill"
                        onClicked: Desktop.saveScreenshot(screen.session)
                        ToolTip.visible: hovered
                        ToolTip.text: qsTr("Capture d'écran")
                    }
                }
            }
        }

        CollapsibleLogs {
            Layout.fillWidth: true
            lines: screen.session.logs
            isOpen: screen.showLogs
            onIsOpenChanged: screen.showLogs = isOpen
        }
    }

    EndAlert {
        id: endAlert
        objectName: "hostEndAlert"
        message: screen.endMessage
        seconds: screen.endAlertSeconds
        onDismissed: function (byUser) {
            screen.showEndAlert = false
            screen.hasShownEndAlert = false
            screen.session.clearEndReason()
            if (byUser) screen.back()
        }
    }
}
