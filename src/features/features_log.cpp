// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/features_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcFeatures, "lunor.features", QtInfoMsg)

}  // namespace lunor
