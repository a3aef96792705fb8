// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// A titled box of the directory.
Rectangle {
    id: box
    property string title
    default property alias content: inner.data

    implicitHeight: column.implicitHeight + 28
    radius: 16
    color: Theme.tint(Theme.controlBackground, Theme.dark ? 0.7 : 0.85)
    border.width: 1
    border.color: Theme.dark ? Qt.rgba(1, 1, 1, 0.06) : Theme.hairline

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 14
        spacing: 12
        PlainText { text: box.title; color: Theme.text; font.pixelSize: Theme.title3; font.bold: true }
        Item {
            id: inner
            Layout.fillWidth: true
            implicitHeight: childrenRect.height
        }
    }
}
