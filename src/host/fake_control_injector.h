#pragma once

#include <QStringList>

#include "host/control_injector.h"

namespace lunor {

// Records what the session asked of it.
class FakeControlInjector final : public ControlInjector {
 public:
  void releaseAllModifiers() override { calls << QStringLiteral("releaseAllModifiers"); }
  QStringList calls;
};

}  // namespace lunor
