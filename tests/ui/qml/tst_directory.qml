// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtTest
import Lunor.Ui
import Lunor.Test

TestCase {
    id: root
    visible: true  // the items under test are its children
    name: "Directory"
    when: windowShown
    width: 1100
    height: 760

    Component {
        id: clientScreen
        ClientScreen {
            width: 1100
            height: 760
            session: Fixture.session
            directory: Fixture.directory
            // Far enough that the session does not start during the test.
            startDelay: 60000
        }
    }

    function init() { Fixture.renew() }

    // The stage follows the session, not a clock: an end that comes before
    // the stage would have ("host not found") leaves the person on the
    // directory, and the next session's Disconnect still ends it.
    function test_theStageFollowsTheSession() {
        const screen = createTemporaryObject(clientScreen, root, {startDelay: 10, stageDelay: 3000, alertTick: 10})
        screen.connectTo("123456789")
        tryVerify(() => Fixture.serverClients() === 1, 5000)
        Fixture.serverSend({type: "room-not-found"})
        tryCompare(screen, "showEndAlert", true)
        wait(screen.stageDelay + 400)
        verify(!screen.isConnected)
        // A failure to connect waits for the person, and is not a session's end.
        const alert = findChild(screen, "clientEndAlert")
        verify(screen.showEndAlert)
        compare(alert.title, "Connexion impossible")
        compare(alert.message, "Hôte introuvable")
        alert.finish(true)
        verify(!screen.showEndAlert)
        verify(!screen.onStage)
        screen.disconnect("Session terminée par le client")  // nothing left to stop

        tryVerify(() => Fixture.serverClients() === 0, 5000)
        screen.connectTo("123456789")
        tryCompare(screen, "isConnected", true, 5000)
        verify(Fixture.session.running)
        screen.disconnect("Session terminée par le client")
        verify(!Fixture.session.running)
        tryCompare(screen, "showEndAlert", true)
    }

    // What is typed reaches the screen; Connect needs four characters.
    function test_typedIdReachesTheScreen() {
        const screen = createTemporaryObject(clientScreen, root)
        const field = findChild(screen, "idField")
        const button = findChild(screen, "connectIdButton")
        field.forceActiveFocus()
        keyClick(Qt.Key_4); keyClick(Qt.Key_2); keyClick(Qt.Key_7)
        compare(screen.sessionId, "427")
        verify(!button.enabled)
        keyClick(Qt.Key_1)
        verify(button.enabled)
    }

    // A card shows its ID grouped (how: test_prettyId); its Connect fills the field.
    function test_cardConnectPutsItsIdInTheField() {
        Fixture.recordConnection("987654321")
        const screen = createTemporaryObject(clientScreen, root)
        tryCompare(findChild(screen, "cardTitle"), "text", "987 654 321")
        screen.sessionId = "111"
        const button = findChild(screen, "cardConnect")
        verify(button)
        mouseClick(button)
        compare(screen.sessionId, "987654321")
        compare(findChild(screen, "idField").text, "987654321")
        verify(screen.isConnecting)
    }

    function test_prettyId_data() {
        return [
            {tag: "nine", id: "123456789", shown: "123 456 789"},
            {tag: "nine with blanks elsewhere", id: "12 3456 78 9", shown: "123 456 789"},
            {tag: "eight", id: "12345678", shown: "12345678"},
            {tag: "eight with a blank", id: "1234 5678", shown: "1234 5678"},
            {tag: "ten", id: "1234567890", shown: "1234567890"},
            {tag: "empty", id: "", shown: ""}
        ]
    }
    function test_prettyId(data) {
        compare(UiText.prettyId(data.id), data.shown)
    }
}
