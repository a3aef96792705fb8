// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtTest
import Lunor.Ui

TestCase {
    id: root
    visible: true  // the items under test are its children
    name: "Endings"
    when: windowShown
    width: 800
    height: 600

    Component { id: endAlert; EndAlert { showCountdown: true; tickInterval: 20 } }
    Component { id: hudView; HudView { width: 560; height: 110; ticking: false } }
    Component { id: endSessionView; EndSessionView { width: 420; height: 240 } }
    Component { id: joinRequestView; JoinRequestView { width: 420; height: 510 } }
    Component { id: fileOfferView; FileOfferView { width: 460; height: 300 } }
    Component { id: transferList; TransferList { width: 340 } }
    SignalSpy { id: dismissedSpy; signalName: "dismissed" }
    SignalSpy { id: closeSpy; signalName: "closeRequested" }
    SignalSpy { id: cancelSpy; signalName: "cancelRequested" }

    function test_endMessage_data() {
        const now = new Date(2026, 11, 6, 10, 0, 0)
        return [
            {tag: "75 seconds", start: new Date(now.getTime() - 75000), now: now,
             message: "L’hôte a mis fin\nDurée : 1m 15s\nÀ bientôt !"},
            {tag: "no start", start: new Date(NaN), now: now,
             message: "L’hôte a mis fin\nDurée : 0s\nÀ bientôt !"},
            {tag: "an hour and more", start: new Date(now.getTime() - 3723000), now: now,
             message: "L’hôte a mis fin\nDurée : 1h 02m 03s\nÀ bientôt !"}
        ]
    }
    // (How the alert shows a message: test_peerTextIsNotMarkup.)
    function test_endMessage(data) {
        compare(UiText.endMessage("L’hôte a mis fin", data.start, data.now), data.message)
    }

    function test_alertCountsDownAndClosesItself() {
        const alert = createTemporaryObject(endAlert, root, {message: "Fin"})
        dismissedSpy.target = alert
        dismissedSpy.clear()
        const ok = findChild(alert.contentItem, "endOk")
        alert.open()
        let seen = [ok.text]
        ok.textChanged.connect(() => seen.push(ok.text))
        tryCompare(dismissedSpy, "count", 1, 5000)
        compare(dismissedSpy.signalArguments[0][0], false)  // not by the person
        verify(!alert.visible)
        compare(seen[0], "OK (10)")
        compare(seen[seen.length - 1], "OK (1)")
        compare(seen.length, 10)
    }

    // Names and reasons come from the other side: markup in them is shown
    // as typed, never drawn (a forged "Autoriser", a picture fetched).
    function test_peerTextIsNotMarkup_data() {
        return [
            {tag: "join request", component: joinRequestView, property: "name", child: "requesterName"},
            {tag: "offered file", component: fileOfferView, property: "name", child: "offeredName"},
            {tag: "HUD", component: hudView, property: "name", child: "hudName"},
            {tag: "end panel", component: endSessionView, property: "message", child: "panelMessage"},
            {tag: "end alert", component: endAlert, property: "message", child: "endMessage", popup: true}
        ]
    }
    function test_peerTextIsNotMarkup(data) {
        const hostile = "<b>B</b><br><br><i>x</i>"
        const properties = {}
        properties[data.property] = hostile
        const item = createTemporaryObject(data.component, root, properties)
        if (data.popup) {
            item.open()
            tryCompare(item, "opened", true)
        }
        const text = findChild(data.popup ? item.contentItem : item, data.child)
        compare(text.text, hostile)
        compare(text.lineCount, 1)  // as rich text it would take three
        compare(text.textFormat, Text.PlainText)
    }

    function test_hudClockPassesTheHour() {
        const start = new Date(2026, 11, 6, 9, 0, 0)
        const hud = createTemporaryObject(hudView, root, {startedAt: start, now: new Date(start.getTime() + 3599000)})
        const elapsed = findChild(hud, "elapsed")
        compare(elapsed.text, "59:59")
        hud.now = new Date(start.getTime() + 3600000)
        compare(elapsed.text, "01:00:00")
        hud.startedAt = undefined
        compare(elapsed.text, "00:00")
    }

    function test_endPanelWithNoSecondsClosesAfterOne() {
        const view = createTemporaryObject(endSessionView, root, {seconds: 0, message: "Fin"})
        closeSpy.target = view
        closeSpy.clear()
        compare(findChild(view, "panelOk").text, "OK (1)")
        tryCompare(closeSpy, "count", 1, 3000)
    }

    function test_endPanelMessage_data() {
        return [
            {tag: "with a duration", duration: "12m 34s", message: "Fin\nDurée : 12m 34s\nÀ bientôt !"},
            {tag: "empty duration", duration: "", message: "Fin\nÀ bientôt !"}
        ]
    }
    function test_endPanelMessage(data) {
        compare(UiText.panelMessage("Fin", data.duration), data.message)
    }

    // Only a transfer that still runs can be cancelled, by its own id; a
    // name from the other side is shown as typed.
    function test_transfersCancelOnlyWhatRuns() {
        const hostile = "<img src='http://x/y.png'>rapport.pdf"
        const row = (name, state) => ({id: "file:" + name, name: name, outgoing: true, state: state, fraction: 0.5,
                                       detail: "détail de " + name, active: state === "running"})
        const item = createTemporaryObject(transferList, root, {rows: [row("fini.zip", "done"), row(hostile, "running")]})
        cancelSpy.target = item
        cancelSpy.clear()
        const rows = Array.from(item.children).filter(r => r.objectName.startsWith("transfer-"))
        compare(rows.map(r => findChild(r, "transferName").text), ["fini.zip", hostile])
        const buttons = rows.map(r => findChild(r, "cancelTransfer"))
        verify(!buttons[0].visible)
        verify(buttons[1].visible)
        mouseClick(buttons[1])
        compare(cancelSpy.count, 1)
        compare(cancelSpy.signalArguments[0][0], "file:" + hostile)
    }
}
