// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a session does differently as host and as client, and what it lends
// the role that does it. RemoteSession runs the lifecycle, the log and the
// published fields for both; the role (the host's or the client's, made by
// the environment) takes every role-specific step, and asks the session only
// through SessionCore.

#include <memory>

#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QUuid>
#include <QVariantList>

#include "protocol/incoming_messages.h"
#include "protocol/quality_profile.h"
#include "session/negotiation.h"

namespace lunor {

class Epoch;
class ConnectionFeatures;
class SessionEnvironment;

enum class Role { Host, Client };

// End reasons the session raises itself.
inline constexpr char kReasonPeerLost[] = "L’autre partie s’est déconnectée";
inline constexpr char kReasonSessionStopped[] = "Arrêt de la session";
inline constexpr char kReasonPeerEnded[] = "Session terminée";
inline constexpr char kReasonHostEnded[] = "Session terminée par l’hôte";
inline constexpr char kReasonClientEnded[] = "Session terminée par le client";
inline constexpr char kReasonRejected[] = "Connexion refusée par l'hôte";
inline constexpr char kReasonClientLeft[] = "Le client s'est déconnecté";
inline constexpr char kReasonHostLeft[] = "L'hôte s'est déconnecté";
inline constexpr char kReasonHostNotFound[] = "Hôte introuvable";
inline constexpr char kReasonHostBusy[] = "L’hôte est déjà en session";
inline constexpr char kReasonNoConnection[] = "La connexion n’a pas pu être établie";
inline constexpr char kReasonNoAnswer[] = "L’hôte n’a pas répondu à la demande";
inline constexpr char kReasonServerUnreachable[] = "Serveur de connexion injoignable";

// Why a session ended: what the program decides on (exit codes, screens),
// where the end reason is the text shown to the person.
enum class EndCause {
  NotEnded,
  LocalStop,          // stop(): the person here, or the program, ended it
  PeerEnded,          // the other side sent its "end"
  PeerLost,           // the peer connection stayed down
  PeerLeft,           // the server says the other side has gone
  Rejected,           // the host refused the join
  HostNotFound,
  HostBusy,
  NoConnection,       // admitted, but no peer connection within its deadline
  NoAnswer,           // the host did not answer the join in time
  ServerUnreachable,  // no signaling server, after every retry
};

// The session as its role sees it. Main thread, but for log() and
// setStatus(), which any thread may call.
class SessionCore {
 public:
  virtual ~SessionCore() = default;

  // ---- what the session holds
  virtual SessionEnvironment& environment() = 0;
  // Null when the WebRTC library failed.
  virtual rtc::PeerConnectionFactory* rtcFactory() = 0;
  virtual Negotiation& negotiation() = 0;
  virtual Epoch& epoch() = 0;
  // The room: the host's own ID, or the one the client joins.
  virtual QString roomId() const = 0;

  // ---- the signaling link
  virtual void send(const QJsonObject& message) = 0;
  // {"type": "signal", "data": payload}
  virtual void sendPayload(const QJsonObject& payload) = 0;
  // The identity of the current link; delayed work that belongs to it
  // compares it before doing anything.
  virtual QUuid generation() const = 0;
  // The current link is heard no more (it died); the new identity.
  virtual QUuid forgetLink() = 0;
  // Opens a new link for the current generation.
  virtual void openLink() = 0;

  // ---- lifecycle
  // A fresh peer connection, discarding any previous one; false when the
  // library refuses.
  virtual bool createPeerConnection() = 0;
  virtual void endSession(const QString& reason, bool silent, EndCause cause) = 0;
  virtual void stop(const QString& reason) = 0;
  virtual void startHost(const QString& roomId) = 0;
  virtual bool isEnding() const = 0;
  virtual bool running() const = 0;

  // ---- the log and the published fields
  virtual void log(const QString& line) = 0;
  // Asynchronously, on the main thread.
  virtual void setStatus(const QString& text) = 0;
  virtual void setStatusNow(const QString& text) = 0;
  virtual QString requesterName() const = 0;  // null when absent
  virtual void setRequesterName(const QString& name) = 0;
  virtual QImage requesterAvatar() const = 0;
  virtual void setRequesterAvatar(const QImage& avatar) = 0;
  virtual bool pendingJoin() const = 0;
  virtual void setPendingJoin(bool value) = 0;
  virtual bool approved() const = 0;
  virtual void setApproved(bool value) = 0;
  virtual void setIsWaitingApproval(bool value) = 0;
  virtual QDateTime startedAt() const = 0;  // invalid when absent
  virtual void setStartedAt(const QDateTime& time) = 0;
  virtual void setAskUnattendedPassword(bool value) = 0;
  virtual void setPasswordNotice(const QString& notice, const QDateTime& retryAt) = 0;
  virtual void setUnattendedLocked(bool value) = 0;
  virtual std::shared_ptr<rtc::VideoTrack> localVideoTrack() const = 0;
  virtual void setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track) = 0;
  virtual void setCurrentQuality(QualityProfile profile) = 0;
  virtual void setAvailableDisplays(const QVariantList& displays) = 0;
  virtual int currentDisplayIndex() const = 0;
  virtual void setCurrentDisplayIndex(int index) = 0;
  virtual void setRemoteVideoSize(const QSize& size) = 0;
  // What the client's tool bar says of the link (empty: nothing).
  virtual void setLink(const QString& summary, bool limited) = 0;
  virtual void setDisplayedVideoRect(const QRectF& rect) = 0;
  // What the session shares with its peer beyond the picture and the input.
  virtual ConnectionFeatures& features() = 0;
};

class SessionRole {
 public:
  virtual ~SessionRole() = default;

  virtual Role role() const = 0;
  // "host" or "client", as the logs write it.
  QString label() const { return role() == Role::Host ? QStringLiteral("host") : QStringLiteral("client"); }

  // A start for the room `roomId` (the session's fields are reset, its link
  // is about to open).
  virtual void starting(const QString& roomId) = 0;
  // The signaling socket opened, or closed by itself.
  virtual void signalingOpened() = 0;
  virtual void signalingClosed() = 0;
  // Messages and "signal" payloads the session does not handle itself.
  virtual void handle(const incoming::Message& message) = 0;
  virtual void handle(const incoming::Payload& payload) = 0;

  // Where the text of the "control" channel goes; empty to ignore it.
  virtual Negotiation::ControlReceiver controlReceiver() = 0;
  // A peer connection was just made.
  virtual void connectionCreated() = 0;
  // ICE reached connected or completed.
  virtual void connected() = 0;
  // The peer's picture arrived (a client's), on the current connection.
  virtual void remoteTrackArrived(const std::shared_ptr<rtc::VideoTrack>& track) { Q_UNUSED(track); }
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
  // The steps of an end: before the teardown (the published fields are set
  // already), during it (after the connection has closed), and after it.
  virtual void ending(const QString& reason, const QDateTime& startedAt) = 0;
  virtual void tearingDown() = 0;
  virtual void ended() = 0;

  // What the screens ask of a session; a role that has nothing to do with
  // a request ignores it.
  virtual void approve() {}
  virtual void reject() {}
  virtual void forgetKnownDevices() {}
  virtual void submitPassword(const QString& password) { Q_UNUSED(password); }
  virtual void requestQuality(const QString& rawProfile) { Q_UNUSED(rawProfile); }
  virtual void requestDisplaySwitch(int index) { Q_UNUSED(index); }
  virtual void requestHardRefresh() {}
};

}  // namespace lunor
