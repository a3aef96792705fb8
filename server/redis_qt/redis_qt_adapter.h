// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

struct redisAsyncContext;

namespace lunor::signal {

// Drives `context` from the Qt event loop; null when the context already has
// an event library. The adapter writes into its context when deleted: unhook
// it and delete it while the context is still alive.
QObject* attachQtAdapter(redisAsyncContext* context);

}  // namespace lunor::signal
