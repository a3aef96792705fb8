// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/client_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcClient, "lunor.client", QtInfoMsg)

}  // namespace lunor
