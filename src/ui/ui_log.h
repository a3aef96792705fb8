// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.ui: the lines of the screens and panels.
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.ui.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcUi)

}  // namespace lunor
