// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The session's values in words: what the screens, the terminal and the
// headless programs show of a status, a connection state and an end. French
// is the source; a translation replaces it.

#include <QObject>
#include <QString>
#include <QtQml/qqml.h>

#include "session/session_types.h"

namespace lunor {

// The status line; a status with a detail of its own shows the detail.
QString statusText(Status status, const QString& detail);
// The connection state, as the host's screen and the tool bar show it.
QString linkStateText(LinkState state);
// Why a session ended, for the person on this side: the peer's own words
// when it ended the session, the local reason when this side did, else the
// cause's text (`role`: this side).
QString endReasonText(EndCause cause, const QString& reason, Role role);
// A reason the peer sent, in the reader's language when it is one of ours.
QString peerReasonText(const QString& reason);
// Whether the session never got under way (not found, refused, no
// connection…): its end is a failure to connect, not a session's end.
bool endedBeforeSession(EndCause cause);

// The same for QML, from a session's published codes: status(statusCode,
// statusDetail), linkState(linkState), endReason(endCause, endReason, host).
class SessionWords : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(SessionWords)
  QML_SINGLETON

 public:
  using QObject::QObject;
  Q_INVOKABLE QString status(int code, const QString& detail) const { return statusText(Status(code), detail); }
  Q_INVOKABLE QString linkState(int code) const { return linkStateText(LinkState(code)); }
  Q_INVOKABLE QString endReason(int cause, const QString& reason, bool host) const {
    return endReasonText(EndCause(cause), reason, host ? Role::Host : Role::Client);
  }
  Q_INVOKABLE bool endedBeforeSession(int cause) const { return lunor::endedBeforeSession(EndCause(cause)); }
};

}  // namespace lunor
