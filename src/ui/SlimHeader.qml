// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Lunor.Ui

// A one-line bar: a back button on the left, something in the middle and
// something on the right.
Rectangle {
    id: header
    property string leftTitle
    property string leftIcon: "chevron.backward"
    property alias centerItem: centre.data
    property alias rightItem: right.data
    signal leftAction()

    implicitHeight: 44
    color: Theme.tint(Theme.controlBackground, 0.6)

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 6
        anchors.rightMargin: 6
        UiButton {
            kind: "plain"
            text: header.leftTitle
            iconName: header.leftIcon
            fontSize: Theme.subheadline
            tint: Theme.text
            leftPadding: 10
            rightPadding: 12
            onClicked: header.leftAction()
        }
        Item { Layout.fillWidth: true }
        Item { id: centre; implicitWidth: childrenRect.width; implicitHeight: childrenRect.height }
        Item { Layout.fillWidth: true }
        Item { id: right; implicitWidth: childrenRect.width; implicitHeight: childrenRect.height }
    }
    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.separator
    }
}
