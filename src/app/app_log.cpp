// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/app_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcApp, "lunor.app", QtInfoMsg)

}  // namespace lunor
