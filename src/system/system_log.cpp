// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/system_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcSystem, "lunor.system", QtInfoMsg)

}  // namespace lunor
