// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// "Session terminée" with the reason and the duration, closing itself after
// `seconds` (at least one).
Rectangle {
    id: view
    property string message
    property int seconds: 10
    property int tickInterval: 1000
    property int remaining: Math.max(seconds, 1)
    signal closeRequested()

    radius: 16
    color: Theme.raisedBackground
    border.width: 1
    border.color: Theme.separator

    Timer {
        interval: view.tickInterval
        repeat: true
        running: view.visible
        onTriggered: {
            if (view.remaining < 2) {
                stop()
                view.closeRequested()
            } else {
                view.remaining -= 1
            }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 16
        anchors.bottomMargin: 16
        spacing: 8
        Image {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 54
            Layout.preferredHeight: 54
            source: "qrc:/qt/qml/Lunor/Ui/icons/lunor-remote.svg"
            sourceSize: Qt.size(108, 108)
        }
        PlainText {
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Session terminée")
            color: Theme.text
            font.pixelSize: Theme.headline
            font.bold: true
        }
        PlainText {
            objectName: "panelMessage"
            Layout.fillWidth: true
            Layout.leftMargin: 20
            Layout.rightMargin: 20
            text: view.message
            color: Theme.secondary
            font.pixelSize: Theme.subheadline
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
        Item { Layout.fillHeight: true }
        UiButton {
            objectName: "panelOk"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 110
            kind: "prominent"
            text: qsTr("OK (%1)").arg(view.remaining)
            onClicked: view.closeRequested()
        }
    }
}
