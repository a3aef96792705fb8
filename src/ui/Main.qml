// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Client
import Lunor.Ui

// The application's window: the mode choice, the host screen, the client
// screen, and the settings sheet over them.
ApplicationWindow {
    id: window
    required property AppState appState
    required property PermissionManager permissions
    required property DirectoryModel directory
    required property UserProfileStore profile
    required property UnattendedAccess unattended
    required property ClientSession clientSession
    property AvatarImages avatars: null
    property SessionPanelWindows panels: null
    // Emits aboutToSleep() when the machine is about to sleep.
    property QtObject sleepMonitor: null
    // --connect: straight to the client screen, joining this host.
    property string connectTo: ""
    // How this computer's screen is shared, as the host screen says it.
    property string shareBackend: ""
    // "", "host" or "client".
    property string mode: connectTo !== "" ? "client" : ""
    // The application stays in the status area when the window closes.
    property bool keepsRunningWhenClosed: false
    property bool showSettings: false
    readonly property Item screen: screens.item

    width: 1100
    height: 760
    minimumWidth: 1000
    minimumHeight: 700
    visible: true
    title: "Lunor Remote"
    color: Theme.windowBackground

    // The process is going: a client session ends with that reason.
    function applicationQuitting() {
        if (mode === "client" && screen) screen.disconnect("Application fermée")
    }

    onClosing: {
        if (mode === "client" && screen) screen.disconnect("Fenêtre fermée")
        // Reopened later on the home screen; hosting goes on meanwhile.
        if (keepsRunningWhenClosed) { mode = ""; showSettings = false }
    }

    Connections {
        target: window.sleepMonitor
        function onAboutToSleep() { if (window.mode === "client" && window.screen) window.screen.sleeping() }
    }

    Loader {
        id: screens
        anchors.fill: parent
        focus: true
        sourceComponent: window.mode === "host" ? hostScreen : window.mode === "client" ? clientScreen : homeScreen
    }

    Component {
        id: homeScreen
        HomeScreen {
            permissions: window.permissions
            onChooseHost: window.mode = "host"
            onChooseClient: window.mode = "client"
            onOpenSettings: window.showSettings = true
        }
    }
    Component {
        id: hostScreen
        HostScreen {
            session: window.appState.hostSession
            sessionId: window.appState.sessionId
            displayName: window.profile.displayName
            shareBackend: window.shareBackend
            panels: window.panels
            onBack: window.mode = ""
        }
    }
    Component {
        id: clientScreen
        ClientScreen {
            session: window.clientSession
            directory: window.directory
            displayName: window.profile.displayName
            onBack: window.mode = ""
            Component.onCompleted: if (window.connectTo !== "") connectTo(window.connectTo)
        }
    }

    SettingsSheet {
        profile: window.profile
        unattended: window.unattended
        hostSession: window.appState.hostSession
        avatars: window.avatars
        active: window.showSettings
        onClosed: window.showSettings = false
    }
}
