#pragma once

#include <QString>

namespace lunor {

// The host's floating windows around a session: the end-of-session panel and
// the floating HUD. Implemented by the user interface; headless runs use the
// null panels.
class SessionPanels {
 public:
  virtual ~SessionPanels() = default;
  // Shows why the session ended, how long it lasted, and counts down from
  // countdownSeconds before closing itself.
  virtual void showEndSession(const QString& reason, const QString& durationText,
                              int countdownSeconds) = 0;
  virtual void hideFloatingHud() = 0;
};

class NullSessionPanels final : public SessionPanels {
 public:
  void showEndSession(const QString&, const QString&, int) override {}
  void hideFloatingHud() override {}
};

}  // namespace lunor
