// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls
import Lunor.Client

// The host's screen in the session window: fitted, filled, or one to one in
// a scrollable canvas; the input item lies exactly over the picture.
Item {
    id: stage

    required property ClientSession session
    // 0 fit ("Adapté"), 1 fill ("Remplir"), 2 one to one ("1:1").
    property int displayMode: 0
    readonly property size pictureSize: StageGeometry.pictureSize(session.remoteVideoSize, session.currentQuality)

    clip: true

    Rectangle {
        anchors.fill: parent
        color: "black"
    }

    Loader {
        id: layout
        anchors.fill: parent
        sourceComponent: stage.displayMode === 2 ? oneToOne : fitted
    }

    // Over the stage whatever its mode: why it waits, with the code to compare.
    WaitingOverlay {
        anchors.fill: parent
        visible: stage.session.isWaitingApproval
        text: SessionWords.status(stage.session.statusCode, stage.session.statusDetail)
        code: stage.session.verificationCode
    }
    // The password prompt put away: the way back to it.
    Column {
        objectName: "passwordAgain"
        anchors.centerIn: parent
        spacing: 14
        visible: stage.session.passwordPutAway && !stage.session.askUnattendedPassword
                 && isNaN(stage.session.passwordRetryAt.getTime())
        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Cet ordinateur demande son mot de passe.")
            color: "white"
            font.pixelSize: 17
        }
        Button {
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Saisir le mot de passe")
            onClicked: stage.session.reopenPasswordPrompt()
        }
    }
    // Too many wrong passwords: when the prompt comes back.
    Label {
        objectName: "passwordWait"
        anchors.centerIn: parent
        width: Math.min(parent.width - 48, 560)
        visible: !stage.session.askUnattendedPassword && !isNaN(stage.session.passwordRetryAt.getTime())
        text: stage.session.passwordNotice
        textFormat: Text.PlainText
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
        color: "white"
        font.pixelSize: 18
    }

    // Every change of the stage gives the keyboard back to the picture.
    function takeFocus() {
        if (layout.item && layout.item.input)
            layout.item.input.forceActiveFocus()
    }
    onDisplayModeChanged: Qt.callLater(takeFocus)
    onPictureSizeChanged: Qt.callLater(takeFocus)
    Connections {
        target: stage.session
        function onRemoteVideoTrackChanged() { Qt.callLater(stage.takeFocus) }
        function onCurrentDisplayIndexChanged() { Qt.callLater(stage.takeFocus) }
    }

    Component {
        id: fitted

        Item {
            property alias input: input
            readonly property rect placed: StageGeometry.fittedRect(stage.displayMode, stage.pictureSize.width,
                                                                    stage.pictureSize.height, width, height)

            Item {
                anchors.centerIn: parent
                width: parent.placed.width
                height: parent.placed.height

                VideoPicture {
                    anchors.fill: parent
                    session: stage.session
                    mode: stage.displayMode === 1 ? VideoView.Fill : VideoView.Fit
                    contentSize: stage.pictureSize
                }
                InputView {
                    id: input
                    anchors.fill: parent
                    session: stage.session
                    focus: true
                }
            }

        }
    }

    Component {
        id: oneToOne

        Flickable {
            id: canvas
            property alias input: input
            contentWidth: Math.max(width, stage.pictureSize.width)
            contentHeight: Math.max(height, stage.pictureSize.height)
            boundsBehavior: Flickable.StopAtBounds
            interactive: false  // the pointer belongs to the host; the bars scroll
            ScrollBar.horizontal: ScrollBar { policy: ScrollBar.AlwaysOn }
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn }

            Item {
                x: (canvas.contentWidth - width) / 2
                y: (canvas.contentHeight - height) / 2
                width: stage.pictureSize.width
                height: stage.pictureSize.height

                Rectangle {
                    anchors.fill: parent
                    color: "black"
                }
                VideoPicture {
                    anchors.fill: parent
                    session: stage.session
                    mode: VideoView.Native
                    contentSize: stage.pictureSize
                }
                InputView {
                    id: input
                    anchors.fill: parent
                    session: stage.session
                    focus: true
                }
            }
        }
    }
}
