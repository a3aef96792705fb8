// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/session_log.h"

namespace lunor {

Q_LOGGING_CATEGORY(lcSession, "lunor.session", QtInfoMsg)

}  // namespace lunor
