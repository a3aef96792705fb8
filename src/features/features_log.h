// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.features: the lines of files and the clipboard over a session.
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.features.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcFeatures)

}  // namespace lunor
