// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.store: the lines of the address book, the profile and the secrets.
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.store.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

}  // namespace lunor
