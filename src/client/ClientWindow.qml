import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lunor.Client

// The client's window for now: the host's screen, a status line, the
// password prompt when the host asks for one, and why the session ended.
ApplicationWindow {
    id: window

    required property RemoteSession session
    required property string roomId
    property bool ended: false

    width: 1280
    height: 800
    visible: true
    color: "black"
    title: "Lunor Remote — " + roomId

    header: ToolBar {
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            Label {
                text: window.session.status
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            ComboBox {
                id: modes
                model: ["Adapté", "Remplir", "1:1"]
                focusPolicy: Qt.NoFocus
            }
        }
    }

    Stage {
        id: stage
        anchors.fill: parent
        session: window.session
        displayMode: modes.currentIndex
    }

    Dialog {
        id: passwordDialog
        anchors.centerIn: parent
        modal: true
        title: "Mot de passe de l’hôte"
        visible: window.session.askUnattendedPassword
        standardButtons: Dialog.Ok | Dialog.Cancel
        closePolicy: Popup.NoAutoClose
        onAboutToShow: password.text = ""
        onAccepted: window.session.submitUnattendedPassword(password.text)
        onRejected: window.close()

        TextField {
            id: password
            width: 280
            echoMode: TextInput.Password
            focus: true
            onAccepted: passwordDialog.accept()
        }
    }

    Rectangle {
        anchors.fill: parent
        visible: window.ended
        color: Qt.rgba(0, 0, 0, 0.75)

        Column {
            anchors.centerIn: parent
            spacing: 16
            Label {
                anchors.horizontalCenter: parent.horizontalCenter
                text: window.session.endReason
                color: "white"
                font.pixelSize: 20
            }
            Button {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Fermer"
                onClicked: window.close()
            }
        }
    }

    Connections {
        target: window.session
        function onEndReasonChanged() { window.ended = window.session.endReason !== "" }
    }

    onClosing: window.session.stop("Fenêtre fermée")
}
