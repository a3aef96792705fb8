// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include "session/session_types.h"

namespace lunor {

// What the join-request panel shows and what its buttons do. An empty action
// means the button is not offered.
struct JoinRequestPrompt {
  QImage avatar;
  // What the panel shows: the requester's name, or "Connexion entrante".
  QString name;
  // The requester's own name, fit to show; null when it gave none.
  QString requester;
  std::function<void()> accept;
  std::function<void()> reject;
  // Whether the session will share the clipboard, which the person may
  // switch off (both ways) before letting the client in.
  bool clipboard = true;
  std::function<void(bool on)> setClipboard;
  // The code the requester's screen shows too ("123 456"); empty when it
  // has none (yet).
  QString code;
};

// A file the client sends, waiting for the host's person to take it.
struct FileOfferPrompt {
  QString from;  // the client's name, or empty
  QString name;  // the file's, as it will be saved
  QString size;  // as the windows show sizes
  std::function<void()> accept;
  std::function<void()> decline;
};

// What the floating HUD shows during a session, and its quit button.
struct HudInfo {
  QImage avatar;
  QString name;
  QDateTime startedAt;
  std::function<void()> quit;
  // The shared clipboard, which the host's person may switch off (both ways).
  bool clipboard = true;
  std::function<void(bool on)> setClipboard;
  // Files dropped on the HUD go to the client (local paths); a transfer of
  // the list may be cancelled by its id.
  std::function<void(const QStringList& paths)> sendFiles;
  std::function<void(const QString& transfer)> cancelFile;
};

// The host's floating windows around a session: the join-request panel, the
// floating HUD and the end-of-session panel. Implemented by the user
// interface; headless runs use the null panels. Main thread only.
class SessionPanels {
 public:
  virtual ~SessionPanels() = default;
  virtual void showJoinRequest(const JoinRequestPrompt& prompt) = 0;
  // Closes the join-request panel if it is shown.
  virtual void dismissJoinRequest() = 0;
  virtual void showFloatingHud(const HudInfo& info) = 0;
  virtual void hideFloatingHud() = 0;
  // Shows why the session ended (`cause`, and the reason the session holds:
  // the screens word the causes they know), how long it lasted, and counts
  // down from countdownSeconds before closing itself.
  virtual void showEndSession(EndCause cause, const QString& reason, const QString& durationText,
                              int countdownSeconds) = 0;
  // Asks whether to take a file; one at a time, a new one replacing the
  // last. Without a person to ask, the file is declined.
  virtual void showFileOffer(const FileOfferPrompt& prompt) = 0;
  virtual void dismissFileOffer() = 0;
  // The session's file transfers, as rows (transferRows), for the HUD.
  virtual void showTransfers(const QVariantList& rows) = 0;
};

class NullSessionPanels final : public SessionPanels {
 public:
  void showJoinRequest(const JoinRequestPrompt&) override {}
  void dismissJoinRequest() override {}
  void showFloatingHud(const HudInfo&) override {}
  void hideFloatingHud() override {}
  void showEndSession(EndCause, const QString&, const QString&, int) override {}
  void showFileOffer(const FileOfferPrompt& prompt) override {
    if (prompt.decline) prompt.decline();
  }
  void dismissFileOffer() override {}
  void showTransfers(const QVariantList&) override {}
};

}  // namespace lunor
