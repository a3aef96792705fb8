#pragma once

// What a session does differently as host and as client. RemoteSession runs
// the lifecycle, the log and the published fields for both, and hands every
// role-specific step to one of these.

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include "session/negotiation.h"

namespace lunor {

enum class Role { Host, Client };

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

class SessionRole {
 public:
  virtual ~SessionRole() = default;

  virtual Role role() const = 0;
  // "host" or "client", as the logs write it.
  QString label() const { return role() == Role::Host ? QStringLiteral("host") : QStringLiteral("client"); }

  // The signaling socket opened, or closed by itself.
  virtual void signalingOpened() = 0;
  virtual void signalingClosed() = 0;
  // Messages and "signal" payloads the session does not handle itself.
  virtual void handleMessage(const QString& type, const QJsonObject& message) = 0;
  virtual void handlePayload(const QString& type, const QJsonObject& data) = 0;

  // Where the text of the "control" channel goes; empty to ignore it.
  virtual Negotiation::ControlReceiver controlReceiver() = 0;
  // A peer connection was just made.
  virtual void connectionCreated() = 0;
  // ICE reached connected or completed.
  virtual void connected() = 0;
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
};

}  // namespace lunor
