// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// A permission's state: green granted, red denied, orange unknown.
Rectangle {
    property string status: "unknown"
    width: 12
    height: 12
    radius: 6
    color: status === "granted" ? Theme.green : status === "denied" ? Theme.red : Theme.orange
    border.width: 0.5
    border.color: Qt.rgba(1, 1, 1, 0.6)
}
