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

  // The local user is about to end the session.
  virtual void stopping() {}
  // The steps of an end: before the teardown (the published fields are set
  // already), during it (after the connection has closed), and after it.
  virtual void ending(const QString& reason, const QDateTime& startedAt) = 0;
  virtual void tearingDown() = 0;
  virtual void ended() = 0;
};

}  // namespace lunor
