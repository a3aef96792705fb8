// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Client
import Lunor.Ui

// The client's screen: the directory of hosts, then the session stage once
// a connection has started.
Rectangle {
    id: screen
    required property ClientSession session
    required property DirectoryModel directory
    property string displayName
    // Delays of the connect sequence (ms) and the end alert's tick.
    property int startDelay: 500
    property int stageDelay: 2000
    property int alertTick: 1000
    signal back()

    property string sessionId
    property bool isConnected: false
    property bool isConnecting: false
    property string selectedQuality: "medium"
    property int displayMode: 0
    property bool showEndAlert: false
    property string endMessage
    property bool endedBeforeSession: false
    property bool didEnd: false
    property var renamingConnectionId: null
    property var renamingFolderId: null
    property string renameText
    property var movingConnectionId: null
    property bool creatingFolder: false
    property string activeFolderId
    readonly property bool onStage: isConnected || showEndAlert
    readonly property string departure: UiText.departure(displayName, false)

    color: Theme.windowBackground

    // ---- connect ----
    function connectTo(id) {
        if (id !== undefined) sessionId = id
        if (sessionId === "") return
        didEnd = false
        isConnecting = true
        startTimer.restart()
    }
    Timer {
        id: startTimer
        interval: screen.startDelay
        onTriggered: {
            screen.session.startClient(screen.sessionId)
            stageTimer.restart()
        }
    }
    // The stage comes only for a session still under way: one that ended
    // meanwhile ("host not found", "busy") has shown its end instead.
    Timer {
        id: stageTimer
        interval: screen.stageDelay
        onTriggered: {
            screen.isConnecting = false
            if (screen.session.running) screen.isConnected = true
        }
    }

    // ---- ends ----
    // An ended session has nothing left to stop: only the stage goes.
    function disconnect(reason) {
        if (didEnd) return
        startTimer.stop()
        stageTimer.stop()
        isConnecting = false
        isConnected = false
        if (!session.running) return
        didEnd = true
        session.stop(reason)
    }
    function sleeping() { disconnect("Mise en veille") }
    function showEnd(reason) {
        const last = session.lastStartedAt
        const start = last && !isNaN(last.getTime()) ? last
                    : session.startedAt && !isNaN(session.startedAt.getTime()) ? session.startedAt : new Date(NaN)
        endedBeforeSession = SessionWords.endedBeforeSession(session.endCause)
        endMessage = endedBeforeSession ? reason : UiText.endMessage(reason, start, new Date())
        isConnected = false
        showEndAlert = true
        endAlert.open()
    }
    function closeEndAlert() {
        showEndAlert = false
        didEnd = false
        session.clearEndReason()
    }

    Component.onCompleted: session.renewGeneration()
    Component.onDestruction: session.stop("Le client a quitté la session")

    Connections {
        target: screen.session
        function onEndReasonChanged() {
            if (screen.session.endReason !== "")
                screen.showEnd(SessionWords.endReason(screen.session.endCause, screen.session.endReason, false))
        }
        function onRunningChanged() {
            if (screen.session.running) return
            stageTimer.stop()
            screen.isConnecting = false
        }
    }

    // ---- the two faces ----
    Loader {
        anchors.fill: parent
        active: !screen.onStage
        visible: active
        sourceComponent: directoryFace
    }
    // Made only while shown: its input item takes the keyboard.
    Loader {
        anchors.fill: parent
        active: screen.onStage
        visible: active
        sourceComponent: SessionStage {
            session: screen.session
            isConnected: screen.isConnected
            sessionId: screen.sessionId
            displayMode: screen.displayMode
            selectedQuality: screen.selectedQuality
            onDisplayModeChanged: screen.displayMode = displayMode
            onSelectedQualityChanged: screen.selectedQuality = selectedQuality
            onBackRequested: screen.back()
            onDisconnectRequested: screen.disconnect(screen.departure)
        }
    }

    EndAlert {
        id: endAlert
        objectName: "clientEndAlert"
        message: screen.endMessage
        title: screen.endedBeforeSession ? qsTr("Connexion impossible") : qsTr("Session terminée")
        showCountdown: !screen.endedBeforeSession
        closesItself: !screen.endedBeforeSession
        tickInterval: screen.alertTick
        onDismissed: screen.closeEndAlert()
    }

    PasswordSheet {
        active: screen.session.askUnattendedPassword
        notice: screen.session.passwordNotice
        onSubmitted: function (password) { screen.session.submitUnattendedPassword(password) }
        onClosed: if (screen.session.askUnattendedPassword) screen.session.cancelPasswordPrompt()
    }

    Component {
        id: directoryFace
        Flickable {
            contentHeight: column.implicitHeight + 32
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}

            ColumnLayout {
                id: column
                width: Math.min(parent.width - 48, 1200)
                x: (parent.width - width) / 2
                y: 8
                spacing: 28

                SlimHeader {
                    Layout.fillWidth: true
                    leftTitle: qsTr("Retour")
                    color: "transparent"
                    onLeftAction: screen.back()
                }

                ConnectCard {
                    id: card
                    objectName: "connectCard"
                    Layout.alignment: Qt.AlignHCenter
                    Layout.preferredWidth: Math.min(column.width, 480)
                    Layout.maximumWidth: 480
                    sessionId: screen.sessionId
                    onEdited: function (text) { screen.sessionId = text }
                    isConnecting: screen.isConnecting
                    statusText: SessionWords.status(screen.session.statusCode, screen.session.statusDetail)
                    onConnectRequested: screen.connectTo()
                    Component.onCompleted: focusField()
                }

                // Header line.
                RowLayout {
                    Layout.fillWidth: true
                    visible: screen.activeFolderId === ""
                    PlainText { text: qsTr("Annuaire"); color: Theme.text; font.pixelSize: Theme.title3; font.bold: true }
                    Item { Layout.fillWidth: true }
                    UiButton {
                        objectName: "newFolder"
                        text: qsTr("Nouveau dossier")
                        iconName: "folder.badge.plus"
                        onClicked: screen.creatingFolder = true
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    visible: screen.activeFolderId !== ""
                    spacing: 12
                    UiButton {
                        objectName: "backToDirectory"
                        text: qsTr("Retour à l’annuaire")
                        iconName: "chevron.left"
                        onClicked: screen.activeFolderId = ""
                    }
                    PlainText {
                        text: {
                            const name = screen.directory.folderName(screen.activeFolderId)
                            return name === undefined || name === null ? qsTr("Dossier") : name
                        }
                        color: Theme.text
                        font.pixelSize: Theme.headline
                        font.bold: true
                    }
                    MenuButton {
                        entries: [
                            {text: qsTr("Renommer le dossier"), action: () => {
                                screen.renameText = screen.directory.folderName(screen.activeFolderId) || ""
                                screen.renamingFolderId = screen.activeFolderId
                            }},
                            {text: qsTr("Supprimer le dossier"), destructive: true, action: () => {
                                screen.directory.deleteFolder(screen.activeFolderId)
                                screen.activeFolderId = ""
                            }}
                        ]
                    }
                    Item { Layout.fillWidth: true }
                }

                SectionBox {
                    Layout.fillWidth: true
                    visible: screen.activeFolderId === "" && screen.directory.recent.length > 0
                    title: qsTr("Connexions récentes")
                    ListView {
                        width: parent.width
                        height: contentItem.childrenRect.height + 4
                        orientation: ListView.Horizontal
                        spacing: 14
                        clip: true
                        boundsBehavior: Flickable.StopAtBounds
                        model: screen.directory.recent
                        delegate: ConnectionCard {
                            required property var modelData
                            y: 2
                            connection: modelData
                            onConnectRequested: function (id) { screen.connectTo(id) }
                            onRenameRequested: function (id, name) { screen.renameText = name; screen.renamingConnectionId = id }
                            onMoveRequested: function (id) { screen.movingConnectionId = id }
                            onDeleteRequested: function (id) { screen.directory.deleteConnection(id) }
                        }
                    }
                }

                SectionBox {
                    Layout.fillWidth: true
                    visible: screen.activeFolderId === ""
                    title: qsTr("Dossiers")
                    PlainText {
                        visible: screen.directory.folders.length === 0
                        text: qsTr("Aucun dossier. Crée un dossier pour organiser tes connexions.")
                        color: Theme.secondary
                        font.pixelSize: Theme.footnote
                    }
                    AdaptiveGrid {
                        id: folderGrid
                        width: parent.width
                        visible: screen.directory.folders.length > 0
                        Repeater {
                          model: screen.directory.folders
                          delegate: FolderTile {
                            required property var modelData
                            width: folderGrid.cellWidth
                            name: modelData.name
                            count: modelData.count
                            onOpen: screen.activeFolderId = modelData.id
                            onRename: { screen.renameText = modelData.name; screen.renamingFolderId = modelData.id }
                            onRemove: screen.directory.deleteFolder(modelData.id)
                          }
                        }
                    }
                }

                SectionBox {
                    id: folderSection
                    // Reading `folders` ties the list to the book's changes.
                    readonly property var connections: screen.activeFolderId === "" ? []
                                                       : (screen.directory.folders, screen.directory.connectionsIn(screen.activeFolderId))
                    Layout.fillWidth: true
                    visible: screen.activeFolderId !== ""
                    title: screen.directory.folderName(screen.activeFolderId) || qsTr("Dossier")
                    PlainText {
                        visible: folderSection.connections.length === 0
                        text: qsTr("Aucune connexion dans ce dossier.")
                        color: Theme.secondary
                        font.pixelSize: Theme.footnote
                    }
                    AdaptiveGrid {
                        id: connectionGrid
                        width: parent.width
                        visible: folderSection.connections.length > 0
                        Repeater {
                          model: folderSection.connections
                          delegate: ConnectionCard {
                            required property var modelData
                            width: connectionGrid.cellWidth
                            connection: modelData
                            onConnectRequested: function (id) { screen.connectTo(id) }
                            onRenameRequested: function (id, name) { screen.renameText = name; screen.renamingConnectionId = id }
                            onMoveRequested: function (id) { screen.movingConnectionId = id }
                            onDeleteRequested: function (id) { screen.directory.deleteConnection(id) }
                          }
                        }
                    }
                }
            }
        }
    }

    // ---- sheets ----
    RenameSheet {
        title: qsTr("Renommer la connexion")
        text: screen.renameText
        active: screen.renamingConnectionId !== null
        onSubmitted: function (text) { screen.directory.rename(screen.renamingConnectionId, text) }
        onClosed: screen.renamingConnectionId = null
    }
    RenameSheet {
        title: qsTr("Renommer le dossier")
        text: screen.renameText
        active: screen.renamingFolderId !== null
        onSubmitted: function (text) { screen.directory.renameFolder(screen.renamingFolderId, text) }
        onClosed: screen.renamingFolderId = null
    }
    RenameSheet {
        objectName: "newFolderSheet"
        title: qsTr("Nouveau dossier")
        text: ""
        active: screen.creatingFolder
        onSubmitted: function (text) { screen.directory.addFolder(text) }
        onClosed: screen.creatingFolder = false
    }
    MoveSheet {
        folders: screen.directory.folders
        active: screen.movingConnectionId !== null
        onChosen: function (folderId) { screen.directory.move(screen.movingConnectionId, folderId) }
        onClosed: screen.movingConnectionId = null
    }
}
