// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtTest
import Lunor.Ui

Item {
    id: root
    width: 600
    height: 400

TestCase {
    name: "Transfers"
    when: windowShown

    Component { id: list; TransferList { width: 340 } }
    SignalSpy { id: cancelSpy; signalName: "cancelRequested" }

    function row(name, state, active) {
        return {id: "file:" + name, name: name, outgoing: true, state: state, fraction: 0.5,
                detail: "détail de " + name, active: active}
    }

    // Only what still runs can be cancelled, by its own id; a name from the
    // other side is shown as typed.
    function test_rowsCancelOnlyWhatRuns() {
        const hostile = "<img src='http://x/y.png'>rapport.pdf"
        const item = createTemporaryObject(list, root, {rows: [row("fini.zip", "done", false),
                                                              row(hostile, "running", true)]})
        cancelSpy.target = item
        cancelSpy.clear()
        const names = []
        const buttons = []
        for (let i = 0; i < item.children.length; ++i) {
            const r = item.children[i]
            if (!r.objectName.startsWith("transfer-")) continue
            names.push(findChild(r, "transferName").text)
            buttons.push(findChild(r, "cancelTransfer"))
        }
        compare(names, ["fini.zip", hostile])
        verify(!buttons[0].visible)
        verify(buttons[1].visible)
        mouseClick(buttons[1])
        compare(cancelSpy.count, 1)
        compare(cancelSpy.signalArguments[0][0], "file:" + hostile)
    }
}
}
