#pragma once

#include <QObject>

struct redisAsyncContext;

namespace lunor::signal {

// Drives `context` from the Qt event loop. The adapter must be deleted after
// the context is freed; null when the context already has an event library.
QObject* attachQtAdapter(redisAsyncContext* context);

}  // namespace lunor::signal
