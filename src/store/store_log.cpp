// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/store_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcStore, "lunor.store", QtInfoMsg)

}  // namespace lunor
