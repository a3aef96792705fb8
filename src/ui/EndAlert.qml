// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Ui

// "Session terminée": why and for how long, closing itself after
// `seconds`. With showCountdown the button reads "OK (n)". A session that
// never began says "Connexion impossible" and why, and waits for the person.
Popup {
    id: alert
    property string message
    property bool showCountdown: false
    property bool closesItself: true
    property string title: qsTr("Session terminée")
    property int seconds: 10
    property int tickInterval: 1000
    property int remaining: seconds
    // byUser: the button was pressed (not the countdown).
    signal dismissed(bool byUser)

    function finish(byUser) {
        ticker.stop()
        close()
        dismissed(byUser)
    }

    anchors.centerIn: Overlay.overlay
    width: 380
    modal: true
    closePolicy: Popup.NoAutoClose
    padding: 20
    onOpened: {
        remaining = seconds
        if (closesItself) ticker.restart()
        okButton.forceActiveFocus()
    }
    onClosed: ticker.stop()

    Timer {
        id: ticker
        interval: alert.tickInterval
        repeat: true
        onTriggered: {
            if (alert.remaining < 2) alert.finish(false)
            else alert.remaining -= 1
        }
    }

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.35) }
    background: Rectangle {
        radius: 14
        color: Theme.raisedBackground
        border.width: 1
        border.color: Theme.hairline
    }

    contentItem: ColumnLayout {
        spacing: 12
        Image {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 54
            Layout.preferredHeight: 54
            source: "qrc:/qt/qml/Lunor/Ui/icons/lunor-remote.svg"
            sourceSize: Qt.size(108, 108)
        }
        PlainText {
            Layout.alignment: Qt.AlignHCenter
            text: alert.title
            color: Theme.text
            font.pixelSize: Theme.headline
            font.bold: true
        }
        PlainText {
            objectName: "endMessage"
            Layout.fillWidth: true
            text: alert.message
            color: Theme.secondary
            font.pixelSize: Theme.subheadline
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            lineHeight: 1.15
        }
        UiButton {
            id: okButton
            objectName: "endOk"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 120
            Layout.topMargin: 4
            kind: "prominent"
            text: alert.showCountdown ? qsTr("OK (%1)").arg(alert.remaining) : qsTr("OK")
            onClicked: alert.finish(true)
        }
    }
}
