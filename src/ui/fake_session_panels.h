#pragma once

#include <QStringList>

#include "ui/session_panels.h"

namespace lunor {

class FakeSessionPanels final : public SessionPanels {
 public:
  void showEndSession(const QString& reason, const QString& duration, int countdown) override {
    calls << QStringLiteral("endSession(%1|%2|%3)").arg(reason, duration).arg(countdown);
  }
  void hideFloatingHud() override { calls << QStringLiteral("hideFloatingHud"); }
  QStringList calls;
};

}  // namespace lunor
