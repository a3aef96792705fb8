// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// One of our symbols, tinted.
Image {
    id: icon
    property string name
    property color color: Theme.text
    property int size: 16

    function hex(c) {
        const part = (v) => ("0" + Math.round(v * 255).toString(16)).slice(-2)
        return part(c.a) + part(c.r) + part(c.g) + part(c.b)
    }

    width: size
    height: size
    sourceSize: Qt.size(size * 2, size * 2)
    fillMode: Image.PreserveAspectFit
    smooth: true
    source: name ? "image://icon/" + name + "/" + hex(color) : ""
}
