// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's panels where nobody can answer a join request: a headless host
// without a terminal (a service, a container). A request that needs a
// person is refused at once, so the requester hears "rejected" instead of
// waiting for nobody; one that the unattended password decides is left to
// it. Main thread.

#include <QObject>

#include "session/session_panels.h"

namespace lunor {

class RefusingPanels final : public QObject, public SessionPanels {
  Q_OBJECT

 public:
  using QObject::QObject;

  void showJoinRequest(const JoinRequestPrompt& prompt) override;
  void dismissJoinRequest() override {}
  void showFloatingHud(const HudInfo&) override {}
  void hideFloatingHud() override {}
  void showEndSession(EndCause, const QString&, const QString&, int) override {}
  // Nobody to take a file either.
  void showFileOffer(const FileOfferPrompt& prompt) override {
    if (prompt.decline) prompt.decline();
  }
  void dismissFileOffer() override {}
  void showTransfers(const QVariantList&) override {}
};

}  // namespace lunor
