// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The session panels as top-level Qt Quick windows: the join-request panel,
// the floating HUD and the end-of-session panel, one of each at a time.
// Main thread only.

#include <memory>

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QtQml/qqml.h>

#include "session/session_panels.h"

class QQmlEngine;

namespace lunor {

class AvatarImages;

class QmlSessionPanels final : public QObject, public SessionPanels {
  Q_OBJECT
  QML_NAMED_ELEMENT(SessionPanelWindows)
  QML_UNCREATABLE("Made by the application.")

 public:
  // Both are borrowed and must outlive the panels.
  QmlSessionPanels(QQmlEngine& engine, AvatarImages& avatars, QObject* parent = nullptr);
  ~QmlSessionPanels() override;

  void showJoinRequest(const JoinRequestPrompt& prompt) override;
  void dismissJoinRequest() override;
  void showFloatingHud(const HudInfo& info) override;
  void hideFloatingHud() override;
  void showEndSession(EndCause cause, const QString& reason, const QString& durationText,
                      int countdownSeconds) override;
  void showFileOffer(const FileOfferPrompt& prompt) override;
  void dismissFileOffer() override;
  void showTransfers(const QVariantList& rows) override;

  // The host screen's own HUD: its "Quitter" emits screenHudQuit() instead
  // of the session's action.
  Q_INVOKABLE void showScreenHud(const QImage& avatar, const QString& name, const QDateTime& startedAt);
  Q_INVOKABLE void hideHud() { hideFloatingHud(); }

 Q_SIGNALS:
  void screenHudQuit();

 public Q_SLOTS:
  void closeEndSession();

 public:

  // The windows while they are shown (for tests and screenshots).
  QQuickWindow* joinRequestWindow() const { return join_; }
  QQuickWindow* hudWindow() const { return hud_ && hud_->isVisible() ? hud_.data() : nullptr; }
  QQuickWindow* endSessionWindow() const { return end_; }
  QQuickWindow* fileOfferWindow() const { return offer_; }

 private Q_SLOTS:
  void acceptJoin();
  void rejectJoin();
  void quitFromHud();
  void clipboardFromHud(bool on);
  void clipboardFromJoin(bool on);
  void filesFromHud(const QVariant& urls);
  void cancelFromHud(const QString& transfer);
  void acceptOffer();
  void declineOffer();

 private:
  QQuickWindow* create(const char* file, const QVariantMap& properties);
  void decide(bool accept);

  QQmlEngine& engine_;
  AvatarImages& avatars_;
  QPointer<QQuickWindow> join_;
  std::function<void()> retainAccept_;
  std::function<void()> retainReject_;
  QPointer<QQuickWindow> hud_;
  std::function<void()> hudQuit_;
  std::function<void(bool)> hudSetClipboard_;
  std::function<void(bool)> joinSetClipboard_;
  std::function<void(const QStringList&)> hudSendFiles_;
  std::function<void(const QString&)> hudCancelFile_;
  QVariantList transfers_;
  QPointer<QQuickWindow> offer_;
  FileOfferPrompt offerPrompt_;
  QPointer<QQuickWindow> end_;
};

}  // namespace lunor
