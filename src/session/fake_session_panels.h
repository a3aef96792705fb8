// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QStringList>

#include "session/session_panels.h"

namespace lunor {

// Records every call; keeps the last prompt and HUD so tests can press their buttons.
class FakeSessionPanels final : public SessionPanels {
 public:
  void showJoinRequest(const JoinRequestPrompt& prompt) override {
    calls << QStringLiteral("joinRequest(%1|accept=%2)")
                 .arg(prompt.name, prompt.accept ? QStringLiteral("yes") : QStringLiteral("no"));
    lastPrompt = prompt;
  }
  void dismissJoinRequest() override { calls << QStringLiteral("dismissJoinRequest"); }
  void showFloatingHud(const HudInfo& info) override {
    calls << QStringLiteral("showFloatingHud(%1)").arg(info.name);
    lastHud = info;
  }
  void hideFloatingHud() override { calls << QStringLiteral("hideFloatingHud"); }
  void showEndSession(EndCause, const QString& reason, const QString& duration, int countdown) override {
    calls << QStringLiteral("endSession(%1|%2|%3)").arg(reason, duration).arg(countdown);
  }

  void showFileOffer(const FileOfferPrompt& prompt) override {
    calls << QStringLiteral("fileOffer(%1|%2|%3)").arg(prompt.from, prompt.name, prompt.size);
    lastFileOffer = prompt;
  }
  void dismissFileOffer() override { calls << QStringLiteral("dismissFileOffer"); }
  void showTransfers(const QVariantList& rows) override { transfers = rows; }

  QStringList calls;
  std::optional<FileOfferPrompt> lastFileOffer;
  QVariantList transfers;
  std::optional<JoinRequestPrompt> lastPrompt;
  std::optional<HudInfo> lastHud;
};

}  // namespace lunor
