// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// The mode choice: share this screen or connect to another computer, and
// whether the system lets this machine host.
Rectangle {
    id: home
    required property PermissionManager permissions
    readonly property bool granted: permissions.allGranted
    signal chooseHost()
    signal chooseClient()
    signal openSettings()

    color: Theme.windowBackground
    // The keyboard starts on the first choice.
    Component.onCompleted: { permissions.refreshAll(); shareButton.forceActiveFocus() }
    onVisibleChanged: if (visible) permissions.refreshAll()

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 48, 640)
        spacing: 32

        ColumnLayout {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 12
            spacing: 8
            Item {
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: 84
                implicitHeight: 88
                Rectangle {  // shadow
                    x: 0; y: 3; width: 84; height: 84; radius: 18
                    color: Qt.rgba(0, 0, 0, 0.20)
                }
                Image {
                    width: 84; height: 84
                    source: "qrc:/qt/qml/Lunor/Ui/icons/lunor-remote.svg"
                    sourceSize: Qt.size(168, 168)
                    smooth: true
                }
            }
            PlainText {
                Layout.alignment: Qt.AlignHCenter
                text: "Lunor Remote"
                color: Theme.text
                font.pixelSize: Theme.largeTitle
                font.bold: true
            }
            PlainText {
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Contrôle à distance sécurisé")
                color: Theme.secondary
                font.pixelSize: Theme.body
            }
        }

        // All granted: one green line.
        Rectangle {
            objectName: "systemReady"
            visible: home.granted
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: 640
            implicitWidth: readyRow.implicitWidth + 24
            implicitHeight: readyRow.implicitHeight + 24
            radius: 16
            color: Theme.tint(Theme.green, 0.08)
            border.width: 1
            border.color: Theme.tint(Theme.green, 0.25)
            Row {
                id: readyRow
                anchors.centerIn: parent
                spacing: 8
                Rectangle { width: 12; height: 12; radius: 6; color: Theme.green; anchors.verticalCenter: parent.verticalCenter }
                PlainText {
                    text: qsTr("Système opérationnel — Toutes les autorisations sont accordées")
                    color: Theme.green
                    font.pixelSize: Theme.subheadline
                    font.weight: Font.DemiBold
                }
            }
        }

        // Not all granted: the permission panel.
        Rectangle {
            objectName: "permissionPanel"
            visible: !home.granted
            Layout.fillWidth: true
            implicitHeight: panel.implicitHeight + 32
            radius: 16
            color: Theme.controlBackground
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, 0.08)
            ColumnLayout {
                id: panel
                anchors.fill: parent
                anchors.margins: 16
                spacing: 14
                RowLayout {
                    PlainText { text: qsTr("Vérifications système"); color: Theme.text; font.pixelSize: Theme.headline; font.bold: true }
                    Item { Layout.fillWidth: true }
                    UiButton { text: qsTr("Re-vérifier"); onClicked: home.permissions.refreshAll() }
                }
                PermissionRow {
                    Layout.fillWidth: true
                    title: qsTr("Accessibilité")
                    status: home.permissions.accessibility
                    missingText: home.permissions.accessibilityProblem !== ""
                                 ? home.permissions.accessibilityProblem : qsTr("Accessibilité manquante")
                    fixActionTitle: qsTr("Ouvrir Réglages")
                    onRequest: home.permissions.checkAccessibility(true)
                    onFix: home.permissions.openSystemSettings("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility")
                }
                PermissionRow {
                    Layout.fillWidth: true
                    title: qsTr("Enregistrement de l’écran")
                    status: home.permissions.screenRecording
                    missingText: qsTr("Autorisation d’enregistrement manquante")
                    fixActionTitle: qsTr("Ouvrir Réglages")
                    onRequest: home.permissions.requestScreenRecording()
                    onFix: home.permissions.openSystemSettings("x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture")
                }
            }
        }

        ColumnLayout {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: Math.min(home.width - 48, 500)
            spacing: 16
            ModeButton {
                id: shareButton
                objectName: "shareButton"
                Layout.fillWidth: true
                iconName: "rectangle.on.rectangle.angled"
                title: qsTr("Partager mon écran")
                subtitle: qsTr("Permettre à quelqu'un de voir mon écran")
                color: home.granted ? Theme.blue : Theme.grey
                enabled: home.granted
                onClicked: if (home.permissions.allGranted) home.chooseHost()
            }
            ModeButton {
                objectName: "connectButton"
                Layout.fillWidth: true
                iconName: "arrow.right.square"
                title: qsTr("Se connecter à un ordinateur")
                subtitle: home.granted ? qsTr("Voir l'écran d'un autre ordinateur") : qsTr("Permissions requises")
                color: home.granted ? Theme.green : Theme.grey
                enabled: home.granted
                onClicked: if (home.permissions.allGranted) home.chooseClient()
            }
        }

        PlainText {
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 20
            text: qsTr("Version %1").arg("2.0.0")
            color: Theme.secondary
            font.pixelSize: Theme.caption
        }
    }

    // The settings button, over the top-right corner.
    Button {
        objectName: "settingsButton"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 16
        width: 34
        height: 34
        hoverEnabled: true
        focusPolicy: Qt.StrongFocus
        onClicked: home.openSettings()
        contentItem: Item { Icon { anchors.centerIn: parent; name: "gearshape"; size: 16; color: Theme.text } }
        background: Rectangle {
            radius: 8
            color: parent.hovered ? Theme.tint(Theme.controlBackground, 1) : Theme.tint(Theme.controlBackground, 0.7)
            border.width: 1
            border.color: Theme.dark ? Qt.rgba(1, 1, 1, 0.12) : Theme.hairline
        }
    }
}
