// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtTest
import Lunor.Ui
import Lunor.Test

TestCase {
    id: root
    visible: true  // the items under test are its children
    name: "Settings"
    when: windowShown
    width: 900
    height: 700

    Component {
        id: settingsSheet
        SettingsSheet { profile: Fixture.profile; unattended: Fixture.unattended }
    }

    function init() { Fixture.renew() }

    function openSheet() {
        const sheet = createTemporaryObject(settingsSheet, root)
        sheet.open()
        tryCompare(sheet, "opened", true)
        return sheet
    }
    function typeInto(field, text) {
        mouseClick(field)
        for (const c of text) keyClick(c)
    }
    function child(sheet, name) { return findChild(sheet.contentItem, name) }

    function test_firstNameIsSavedAtEachCharacter() {
        const sheet = openSheet()
        const field = child(sheet, "firstName")
        mouseClick(field)
        keyClick("A")
        compare(Fixture.savedFirstName(), "A")
        keyClick("l")
        compare(Fixture.savedFirstName(), "Al")
        keyClick(Qt.Key_Backspace)
        compare(Fixture.savedFirstName(), "A")
    }

    function test_mismatchedPasswordsKeepBothFields() {
        const sheet = openSheet()
        mouseClick(child(sheet, "unattendedSwitch"))
        verify(Fixture.profile.unattendedEnabled)
        tryCompare(sheet, "showUnattendedEditor", true)
        const password = child(sheet, "unattendedPassword")
        const confirmation = child(sheet, "unattendedConfirmation")
        typeInto(password, "sesame")
        typeInto(confirmation, "sesamf")
        mouseClick(child(sheet, "editorSave"))
        tryCompare(sheet, "showPasswordMismatchAlert", true)
        compare(password.text, "sesame")
        compare(confirmation.text, "sesamf")
        verify(sheet.showUnattendedEditor)
        compare(Fixture.storedPassword(), undefined)

        // Corrected, it is stored.
        mouseClick(findChild(sheet.mismatchAlert.contentItem, "mismatchOk"))
        tryCompare(sheet, "showPasswordMismatchAlert", false)
        confirmation.text = "sesame"
        mouseClick(child(sheet, "editorSave"))
        compare(Fixture.storedPassword(), "sesame")
        verify(!sheet.showUnattendedEditor)
        // The digest admits whoever shows it: it is kept nowhere but as the password.
        verify(Fixture.settingsFileText().indexOf(Fixture.digest("sesame")) < 0)
    }

    function test_cancelSwitchesOffAndForgetsThePassword() {
        Fixture.storePassword("ancien")
        Fixture.storeLegacyDigest("ancien")
        const sheet = openSheet()
        mouseClick(child(sheet, "unattendedSwitch"))
        tryCompare(sheet, "showUnattendedEditor", true)
        mouseClick(child(sheet, "editorCancel"))
        verify(!sheet.showUnattendedEditor)
        verify(!Fixture.profile.unattendedEnabled)
        compare(Fixture.storedPassword(), undefined)
        verify(Fixture.settingsFileText().indexOf(Fixture.digest("ancien")) < 0)
    }

    function test_switchOnThenCloseStoresNothing() {
        const sheet = openSheet()
        mouseClick(child(sheet, "unattendedSwitch"))
        mouseClick(child(sheet, "closeSettings"))
        verify(Fixture.profile.unattendedEnabled)
        compare(Fixture.storedPassword(), undefined)
    }
}
