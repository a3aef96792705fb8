// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.client: the lines of the client's side and its view.
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.client.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcClient)

}  // namespace lunor
