// SPDX-License-Identifier: GPL-3.0-or-later
pragma Singleton
import QtQuick
import Lunor.Ui

// The application's colours and type sizes, light and dark. Everything on
// screen takes its colours from here.
QtObject {
    // The desktop's preference unless the application says otherwise.
    readonly property bool dark: Desktop.darkTheme

    readonly property color windowBackground: dark ? "#1e1f22" : "#f2f2f5"
    readonly property color controlBackground: dark ? "#2b2d31" : "#ffffff"
    readonly property color raisedBackground: dark ? "#33353a" : "#fafafc"
    readonly property color material: dark ? "#2a2c30" : "#f8f8fa"
    readonly property color text: dark ? "#f2f2f4" : "#1d1d1f"
    readonly property color secondary: dark ? "#a0a3aa" : "#6e6e73"
    readonly property color separator: dark ? Qt.rgba(1, 1, 1, 0.10) : Qt.rgba(0, 0, 0, 0.10)
    readonly property color hairline: dark ? Qt.rgba(1, 1, 1, 0.08) : Qt.rgba(0, 0, 0, 0.08)
    readonly property color field: dark ? "#1b1c1f" : "#ffffff"
    readonly property color shadow: Qt.rgba(0, 0, 0, dark ? 0.5 : 0.18)

    readonly property color blue: dark ? "#0a84ff" : "#007aff"
    readonly property color green: dark ? "#30d158" : "#28a745"
    readonly property color red: dark ? "#ff453a" : "#ff3b30"
    readonly property color orange: dark ? "#ff9f0a" : "#f08c00"
    readonly property color grey: dark ? "#8e8e93" : "#8e8e93"
    readonly property color accent: blue
    readonly property color logGreen: "#38d86b"
    readonly property color logBackground: Qt.rgba(0.05, 0.06, 0.07, 0.92)

    // A colour at some opacity.
    function tint(colour, opacity) { return Qt.rgba(colour.r, colour.g, colour.b, opacity) }

    // Type sizes (pixels).
    readonly property int largeTitle: 42
    readonly property int title2: 21
    readonly property int title3: 17
    readonly property int headline: 15
    readonly property int body: 14
    readonly property int subheadline: 13
    readonly property int caption: 12
    readonly property int footnote: 12
}
