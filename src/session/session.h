// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a host's and a client's session share, from start to end: the
// lifecycle, the signaling link, the peer connection and its channels, the
// log, and the fields every screen reads. HostSession and ClientSession
// build on it, each with its own state; the base calls them only through
// the few hooks below, on the main thread.
//
// Lives on the main thread; published fields change there only. log(),
// setStatus() and endSession() may be called from any thread.

#include <memory>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QVariantList>

#include "protocol/quality_profile.h"
#include "rtc/peer_connection.h"
#include "session/clock.h"
#include "session/epoch.h"
#include "session/connection_features.h"
#include "session/negotiation.h"
#include "protocol/incoming_messages.h"
#include "session/session_types.h"

namespace lunor {

class SessionEnvironment;
class SignalingClient;

// What a local end tells the other side: "<name> s’est déconnecté de votre
// ordinateur", or the role's plain text when the trimmed name is empty.
QString departureText(const QString& displayName, Role role);

class Session : public QObject {
  Q_OBJECT
  // Whether a session is under way: from a start until its teardown.
  Q_PROPERTY(bool running READ running NOTIFY runningChanged)
  // The status line (a Status) and its detail, which the screens word.
  Q_PROPERTY(int statusCode READ statusCode NOTIFY statusChanged)
  Q_PROPERTY(QString statusDetail READ statusDetail NOTIFY statusChanged)
  // The peer connection's state (a LinkState).
  Q_PROPERTY(int linkState READ linkStateCode NOTIFY connectionStateChanged)
  // Why the last session ended (an EndCause).
  Q_PROPERTY(int endCause READ endCauseCode NOTIFY endCauseChanged)
  Q_PROPERTY(QStringList logs READ logs NOTIFY logsChanged)
  Q_PROPERTY(QString requesterName READ requesterName NOTIFY requesterNameChanged)
  Q_PROPERTY(QString currentQuality READ currentQualityRaw NOTIFY currentQualityChanged)
  Q_PROPERTY(QVariantList availableDisplays READ availableDisplays NOTIFY availableDisplaysChanged)
  Q_PROPERTY(int currentDisplayIndex READ currentDisplayIndex NOTIFY currentDisplayIndexChanged)
  // Files and the clipboard (a SessionFeatures, above this layer).
  Q_PROPERTY(QObject* features READ featuresObject CONSTANT)
  Q_PROPERTY(QImage requesterAvatar READ requesterAvatar NOTIFY requesterAvatarChanged)
  Q_PROPERTY(QDateTime startedAt READ startedAt NOTIFY startedAtChanged)
  Q_PROPERTY(QString endReason READ endReason NOTIFY endReasonChanged)
  Q_PROPERTY(QDateTime lastStartedAt READ lastStartedAt NOTIFY lastStartedAtChanged)

 public:
  static constexpr int kMaxLogLines = 200;
  static constexpr int kIceDownGraceMs = 2000;

  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Role role() const { return role_; }
  // "host" or "client", as the logs write it.
  QString label() const { return role_ == Role::Host ? QStringLiteral("host") : QStringLiteral("client"); }

  // ---- published fields (main thread) ----
  bool running() const { return running_; }
  Status status() const { return status_; }
  int statusCode() const { return int(status_); }
  QString statusDetail() const { return statusDetail_; }
  LinkState linkState() const { return linkState_; }
  int linkStateCode() const { return int(linkState_); }
  int endCauseCode() const { return int(endCause_); }
  QStringList logs() const { return logs_; }
  // Who is on the other side, as the server names them; null when absent.
  QString requesterName() const { return requesterName_; }
  QImage requesterAvatar() const { return requesterAvatar_; }
  QualityProfile currentQuality() const { return currentQuality_; }
  QString currentQualityRaw() const { return rawValue(currentQuality_); }
  QVariantList availableDisplays() const { return availableDisplays_; }
  int currentDisplayIndex() const { return currentDisplayIndex_; }
  // Invalid when absent.
  QDateTime startedAt() const { return startedAt_; }
  // Null when absent.
  QString endReason() const { return endReason_; }
  // Why the last session ended; None until then and once the screens have
  // shown it.
  EndCause endCause() const { return endCause_; }
  QDateTime lastStartedAt() const { return lastStartedAt_; }
  // The "control" channel exists and is open: input can reach the host.
  bool isControlChannelOpen() const { return negotiation_.isControlChannelOpen(); }
  // Files and the clipboard over the session's connection.
  ConnectionFeatures& features() { return *features_; }
  QObject* featuresObject() const { return features_->object(); }
  // The library's counters of the current connection; `done` runs on the
  // main thread, not at all without a connection or when it goes first.
  void collectStats(std::function<void(const rtc::ConnectionStats&)> done) {
    negotiation_.collectStats(std::move(done));
  }

  // ---- lifecycle ----
  // The local user ends the session with `reason` (sent to the peer).
  Q_INVOKABLE void stop(const QString& reason);
  // Ends the current session; a non-silent end tells the peer why. Any
  // thread. Nothing happens when the session has already ended.
  void endSession(const QString& reason, bool silent, EndCause cause);
  // Appends "[time] message" to the log and prints it. Any thread.
  void log(const QString& message);
  // Sets the status on the main thread, asynchronously. Any thread.
  void setStatus(Status status, const QString& detail = {});
  // A new link epoch: what an earlier start left scheduled is ignored.
  Q_INVOKABLE void renewGeneration();
  // Current as long as the session lives: the guard of work that may come
  // back after it has gone (a panel's buttons, another thread's answer).
  Epoch::Ticket lifetime() const { return lifetime_.ticket(); }
  // The screens have shown the end: the next end is a change again.
  Q_INVOKABLE void clearEndReason() {
    setEndReason(QString());
    setEndCause(EndCause::NotEnded);
  }

 Q_SIGNALS:
  void runningChanged();
  void statusChanged();
  void connectionStateChanged();
  void logsChanged();
  void requesterNameChanged();
  void currentQualityChanged();
  void availableDisplaysChanged();
  void currentDisplayIndexChanged();
  void requesterAvatarChanged();
  void startedAtChanged();
  void endReasonChanged();
  void endCauseChanged();
  void lastStartedAtChanged();

 protected:
  // The environment is borrowed and must outlive the session. Creates the
  // WebRTC factory at once.
  Session(SessionEnvironment& environment, Role role, QObject* parent);

  // ---- what each side does: the hooks, on the main thread ----
  // The signaling socket opened, or closed by itself.
  virtual void signalingOpened() {}
  virtual void signalingClosed() = 0;
  // Messages and "signal" payloads the base does not handle itself.
  virtual void handle(const incoming::Message& message) = 0;
  virtual void handle(const incoming::Payload& payload) = 0;
  // Where the text of the "control" channel goes; empty to ignore it.
  virtual Negotiation::ControlReceiver controlReceiver() { return {}; }
  // A peer connection was just made.
  virtual void connectionCreated() = 0;
  // ICE reached connected or completed.
  virtual void connected() {}
  // The peer's picture arrived on the current connection (a client's).
  virtual void remoteTrackArrived(const std::shared_ptr<rtc::VideoTrack>& track) { Q_UNUSED(track); }
  // The channel "proof" is open (said once or more), and a text message on it.
  virtual void proofChannelOpened() {}
  virtual void proofMessage(const QByteArray& text) { Q_UNUSED(text); }
  // The end reason when the server says the other side left.
  virtual QString departureReason() const = 0;
  // The server says `clientId` has gone ("?" when it did not say who):
  // whether that ends the session, or only withdraws a request.
  virtual bool peerLeftEndsSession(const QString& clientId) {
    Q_UNUSED(clientId);
    return true;
  }
  // The local user is about to end the session.
  virtual void stopping() {}
  // Nobody waits at the door any more (an end begins): the side's own
  // request fields go back to rest.
  virtual void settleWaiting() = 0;
  // The steps of an end: before the teardown (the published fields are set
  // already), during it (after the connection has closed), and after it.
  virtual void ending(const QString& reason, const QDateTime& startedAt) {
    Q_UNUSED(reason);
    Q_UNUSED(startedAt);
  }
  virtual void tearingDown() = 0;
  virtual void ended() {}
  // After a teardown: the side's published fields as before any session.
  virtual void resetFields() = 0;

  // ---- what each side may use ----
  SessionEnvironment& environment() { return environment_; }
  const SessionEnvironment& environment() const { return environment_; }
  // Null when the WebRTC library failed.
  rtc::PeerConnectionFactory* rtcFactory() { return factory_.get(); }
  // The DTLS certificate every connection of this session presents, as a
  // description carries it; empty without a factory.
  QByteArray certificateFingerprint() const {
    return factory_ ? QByteArray::fromStdString(factory_->certificateFingerprint()) : QByteArray();
  }
  Negotiation& negotiation() { return negotiation_; }
  Epoch& epoch() { return epoch_; }
  // The room: the host's own ID, or the one the client joins.
  QString roomId() const { return sessionId_; }
  void send(const QJsonObject& message);
  // {"type": "signal", "data": payload}
  void sendPayload(const QJsonObject& payload);
  // The current signaling link's epoch: delayed work that belongs to the
  // link keeps its ticket and does nothing once the link is over.
  Epoch::Ticket link() const { return link_.ticket(); }
  // The current link is heard no more (it died); the next one's ticket.
  Epoch::Ticket forgetLink() { return link_.renew(); }
  // Opens a new link for the current epoch.
  void openLink() { connectSignaling(); }
  // The common part of a start for the room `roomId`: running from now.
  void begin(const QString& roomId);
  // A fresh peer connection, discarding any previous one; false when the
  // library refuses.
  bool createPeerConnection();
  bool isEnding() const { return isEnding_; }
  // Closes the connection and the link for good: a side calls it first in
  // its destructor, so that no library callback reaches it once it starts
  // going.
  void shutDown();
  // Always queues `call` on the main thread; dropped if the session is gone.
  void postToMain(std::function<void()> call);
  bool isMainThread() const;

  // ---- published setters (main thread; emit only on change) ----
  void setStatusNow(Status status, const QString& detail = {});
  void setConnectionState(LinkState state);
  void setRequesterName(const QString& name);
  void setRequesterAvatar(const QImage& avatar);
  void setStartedAt(const QDateTime& time);
  void setCurrentQuality(QualityProfile profile);
  void setAvailableDisplays(const QVariantList& displays);
  void setCurrentDisplayIndex(int index);
  void setEndReason(const QString& reason);
  void setEndCause(EndCause cause);

 private:
  // ---- signaling ----
  void connectSignaling();
  void disconnectSignaling();
  void handleSignalingOpen();
  void handleSignalingMessage(const QJsonObject& message);
  void handlePayload(const incoming::Signal& signal);
  void handleEndFromServer(EndCause cause);
  // Both sides: who has come in, as "peer-joined" says.
  void peerJoined(const incoming::PeerJoined& joined);

  // ---- connection ----
  void applyIceState(rtc::IceConnectionState state);
  void iceDownTimerFired();
  void trackArrived(std::shared_ptr<rtc::VideoTrack> track);
  // Takes the TURN servers an admission hands over; true when they changed
  // an existing connection's servers.
  bool acceptIceServers(const std::vector<rtc::IceServer>& servers);
  // The environment's configuration, with the server's TURN credentials.
  rtc::Configuration peerConfiguration();

  // ---- lifecycle ----
  // False when the session had already ended.
  bool end(const QString& reason, bool silent, EndCause cause);
  void setRunning(bool running);
  void setLastStartedAt(const QDateTime& time);
  void teardown(const QString& reason, ConnectionFeatures::Cut cut);
  void resetAfterTeardown();

  SessionEnvironment& environment_;
  const Role role_;

  // Published.
  bool running_ = false;
  Status status_ = Status::Initialising;
  QString statusDetail_;
  LinkState linkState_ = LinkState::Disconnected;
  QStringList logs_;
  QString requesterName_;
  QImage requesterAvatar_;
  QualityProfile currentQuality_ = kDefaultQuality;
  QVariantList availableDisplays_;
  int currentDisplayIndex_ = 0;
  QDateTime startedAt_;
  QString endReason_;
  EndCause endCause_ = EndCause::NotEnded;
  QDateTime lastStartedAt_;

  // Private session state.
  bool everConnected_ = false;  // ICE was up at least once in this session
  std::vector<rtc::IceServer> serverIceServers_;  // for this session, from the server
  QString sessionId_;
  bool isTornDown_ = true;  // nothing to tear down before the first start
  bool isEnding_ = false;
  bool shutDown_ = false;
  ClockTimer iceDownTimer_;
  Epoch epoch_{*this};     // the peer connection's
  Epoch link_{*this};      // the signaling link's
  Epoch lifetime_{*this};  // never renewed
  std::unique_ptr<rtc::PeerConnectionFactory> factory_;
  Negotiation negotiation_;  // closed before a side's state goes: its channel feeds it
  std::unique_ptr<ConnectionFeatures> features_;
  struct DeleteLater {
    void operator()(QObject* object) const;
  };
  std::unique_ptr<SignalingClient, DeleteLater> signalingClient_;
};

// What the screens show of an ICE connection state.
struct IceStateView {
  LinkState link;
  Status status;
};
IceStateView iceStateView(rtc::IceConnectionState state);

}  // namespace lunor
