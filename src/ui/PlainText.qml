// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick

// Text shown as it is: never read as markup. Names and reasons come from
// the other side, and Qt would otherwise take "<b>", "<img>" or tables in
// them for rich text.
Text {
    textFormat: Text.PlainText
}
