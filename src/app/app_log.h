// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.app: the application's lines (the session ID, the status, the
// headless client's figures).
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.app.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcApp)

}  // namespace lunor
