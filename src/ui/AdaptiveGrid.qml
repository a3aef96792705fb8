// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Lunor.Ui

// A grid whose columns are at least minimumCellWidth wide and share the width.
Grid {
    id: grid
    property int minimumCellWidth: 220
    spacing: 16
    columns: Math.max(1, Math.floor((width + spacing) / (minimumCellWidth + spacing)))
    readonly property real cellWidth: (width - (columns - 1) * spacing) / columns
}
