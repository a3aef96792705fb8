// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client's session: joining the host's room, the password prompt,
// answering the host's offers, the host's picture, display list and
// geometry, the client's requests (quality, display, hard refresh) and its
// input. Main thread, as its base says.

#include <memory>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QRectF>
#include <QSize>
#include <QVariantMap>

#include "client/link_gauge.h"
#include "session/session.h"
#include "session/session_environment.h"

namespace lunor {

struct ControlMessage;
class ClientProof;

class ClientSession final : public Session {
  Q_OBJECT
  Q_PROPERTY(bool isWaitingApproval READ isWaitingApproval NOTIFY isWaitingApprovalChanged)
  Q_PROPERTY(bool askUnattendedPassword READ askUnattendedPassword NOTIFY askUnattendedPasswordChanged)
  // Why the password is asked again, or why not yet: "Mot de passe
  // incorrect", or too many tries and when to try again; empty otherwise.
  Q_PROPERTY(QString passwordNotice READ passwordNotice NOTIFY passwordNoticeChanged)
  // When the host's server takes a password again after too many wrong
  // ones (invalid: now); the prompt comes back then by itself.
  Q_PROPERTY(QDateTime passwordRetryAt READ passwordRetryAt NOTIFY passwordNoticeChanged)
  // The person put the prompt away without answering: the stage offers it again.
  Q_PROPERTY(bool passwordPutAway READ passwordPutAway NOTIFY askUnattendedPasswordChanged)
  Q_PROPERTY(QSize remoteVideoSize READ remoteVideoSize NOTIFY remoteVideoSizeChanged)
  // The reading of the link (rate, size, frame rate), and whether the link
  // limits the picture.
  Q_PROPERTY(QString linkSummary READ linkSummary NOTIFY linkChanged)
  Q_PROPERTY(bool linkLimited READ linkLimited NOTIFY linkChanged)
  Q_PROPERTY(QRectF displayedVideoRect READ displayedVideoRect NOTIFY displayedVideoRectChanged)
  Q_PROPERTY(bool hasRemoteVideoTrack READ hasRemoteVideoTrack NOTIFY remoteVideoTrackChanged)
  // The code the host's request panel shows too ("123 456"), while waiting
  // for its answer; empty when there is none.
  Q_PROPERTY(QString verificationCode READ verificationCode NOTIFY verificationCodeChanged)

 public:
  static constexpr int kJoinDelayMs = 1000;
  static constexpr int kLinkIntervalMs = 2000;
  // How long a host met before has, once connected, to say who it is.
  static constexpr int kHostHelloMs = 10'000;

  // The environment is borrowed and must outlive the session.
  explicit ClientSession(SessionEnvironment& environment, QObject* parent = nullptr);
  ~ClientSession() override;

  bool isWaitingApproval() const { return isWaitingApproval_; }
  bool askUnattendedPassword() const { return askUnattendedPassword_; }
  bool passwordPutAway() const { return passwordPutAway_; }
  QString passwordNotice() const { return passwordNotice_; }
  QDateTime passwordRetryAt() const { return passwordRetryAt_; }
  QSize remoteVideoSize() const { return remoteVideoSize_; }
  QString linkSummary() const { return linkSummary_; }
  bool linkLimited() const { return linkLimited_; }
  QRectF displayedVideoRect() const { return displayedVideoRect_; }
  std::shared_ptr<rtc::VideoTrack> remoteVideoTrack() const { return remoteVideoTrack_; }
  bool hasRemoteVideoTrack() const { return remoteVideoTrack_ != nullptr; }
  QString verificationCode() const { return verificationCode_; }

  // Starts a session towards the room `roomId`; joins 1 s later.
  Q_INVOKABLE void startClient(const QString& roomId);
  // Answers the password prompt: proved to a host that checks it itself,
  // else a new join carrying its digest.
  Q_INVOKABLE void submitUnattendedPassword(const QString& password);
  // The person closed the password prompt without answering.
  Q_INVOKABLE void cancelPasswordPrompt();
  // The prompt put away comes back, unless a wait after wrong passwords holds it.
  Q_INVOKABLE void reopenPasswordPrompt();
  Q_INVOKABLE void requestQuality(const QString& rawProfile);
  Q_INVOKABLE void requestDisplaySwitch(int index);
  Q_INVOKABLE void requestHardRefresh();
  // Asks a host sharing a desktop of its own to size it to the view, in
  // pixels; other hosts ignore it.
  Q_INVOKABLE void requestScreenSize(int width, int height);
  // Sends one control message if the channel is open; else drops it. Maps
  // that are not a valid control message are dropped.
  Q_INVOKABLE void sendControl(const QVariantMap& message);
  void sendControl(const ControlMessage& message);
  // Where the view shows the picture (view coordinates).
  void setDisplayedVideoRect(const QRectF& rect);

 Q_SIGNALS:
  void isWaitingApprovalChanged();
  void askUnattendedPasswordChanged();
  void passwordNoticeChanged();
  void remoteVideoSizeChanged();
  void linkChanged();
  void displayedVideoRectChanged();
  void remoteVideoTrackChanged();
  void verificationCodeChanged();

 private:
  // ---- the base's hooks
  void signalingClosed() override;
  void handle(const incoming::Message& message) override;
  void handle(const incoming::Payload& payload) override;
  void connectionCreated() override;
  void connected() override;
  // Tells the host once the connection's first picture is here.
  void remoteTrackArrived(const std::shared_ptr<rtc::VideoTrack>& track) override;
  QString departureReason() const override;
  void stopping() override;
  void settleWaiting() override;
  void tearingDown() override;
  void resetFields() override;

  void setIsWaitingApproval(bool value);
  void setAskUnattendedPassword(bool value);
  void setPasswordNotice(const QString& notice, const QDateTime& retryAt);
  void setRemoteVideoSize(const QSize& size);
  void setLink(const QString& summary, bool limited);
  void setRemoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track);
  void setVerificationCode(const QString& code);
  // The host's half of the code: ours goes back, and the connection must
  // then be with the certificate it named.
  void handleJoinCode(const signaling::CodePart& part);

  // Sends the join 1 s from now, unless the session's link has changed by then.
  void scheduleJoin();
  void sendJoin(const std::optional<QString>& passwordHash);
  void endWith(const char* reason, EndCause cause);
  void reconnect();
  void passwordDenied(const incoming::UnattendedDenied& denied);
  void proofChannelOpened() override;
  void proofMessage(const QByteArray& text) override;
  void stopWatchingPicture();
  // Tells the host the first picture is here, once the control channel is open.
  void sayPicture();

  // Published.
  bool isWaitingApproval_ = false;
  bool askUnattendedPassword_ = false;
  bool passwordPutAway_ = false;
  QString passwordNotice_;
  QDateTime passwordRetryAt_;
  QSize remoteVideoSize_{0, 0};
  QString linkSummary_;
  bool linkLimited_ = false;
  QRectF displayedVideoRect_;
  std::shared_ptr<rtc::VideoTrack> remoteVideoTrack_;
  QString verificationCode_;
  QByteArray codeNonce_;  // our half of the code, committed to in the last join

  ClockTimer joinTimer_{environment().clock()};
  std::optional<Epoch::Ticket> joinLink_;  // the link the join is for
  ClockTimer approvalTimer_{environment().clock()};
  ClockTimer reconnectTimer_{environment().clock()};
  ClockTimer passwordRetryTimer_{environment().clock()};  // the prompt back once the server takes passwords again
  // Sees the first frame of the host's track, then tells the host.
  class FirstPicture;
  std::unique_ptr<FirstPicture> firstPicture_;
  std::shared_ptr<rtc::VideoTrack> watchedTrack_;
  bool pictureToSay_ = false;  // the first picture came; the host has not heard yet
  std::vector<int> reconnectDelaysMs_;  // the waits before each new try
  size_t reconnectAttempt_ = 0;  // tries since the server last answered a message
  std::optional<Epoch::Ticket> reconnectLink_;  // the link after the one that failed
  QString deviceKey_;            // from the admission, until the session is up
  bool admitted_ = false;        // the server let this client in
  // The password's proof to the host itself.
  std::unique_ptr<ClientProof> proof_;
  bool hostProves_ = false;                // the host checks passwords itself
  bool provingToHost_ = false;             // joined to prove one
  std::optional<QString> pendingPassword_;  // to prove once the host has said hello
  // A host met before must say who it is on each connection before its
  // picture is shown or our input sent.
  bool mustHearHost();
  bool hostVerified_ = false;
  std::shared_ptr<rtc::VideoTrack> heldTrack_;  // until then
  ClockTimer helloTimer_{environment().clock()};
  // The link indicator: the receiver's counters every few seconds.
  ClockTimer linkTimer_{environment().clock()};
  LinkGauge linkGauge_;
  int linkContext_ = 0;  // a new one for each profile or display asked
};

}  // namespace lunor
