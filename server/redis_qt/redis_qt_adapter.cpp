// SPDX-License-Identifier: GPL-3.0-or-later
// hiredis's own Qt adapter, from its Debian package. It is written with the
// Qt keywords (slots), so this file alone is built without QT_NO_KEYWORDS.

#include "redis_qt_adapter.h"

#include <hiredis/adapters/qt.h>

namespace lunor::signal {

QObject* attachQtAdapter(redisAsyncContext* context) {
  auto* adapter = new RedisQtAdapter;
  if (adapter->setContext(context) != REDIS_OK) {
    delete adapter;
    return nullptr;
  }
  return adapter;
}

}  // namespace lunor::signal
