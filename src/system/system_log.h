// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.system: the lines of the platform services.
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.system.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcSystem)

}  // namespace lunor
