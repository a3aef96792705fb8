// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ui_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcUi, "lunor.ui", QtInfoMsg)

}  // namespace lunor
