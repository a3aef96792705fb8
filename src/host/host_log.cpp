// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/host_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcHost, "lunor.host", QtInfoMsg)

}  // namespace lunor
