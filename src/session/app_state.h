// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "session/remote_session.h"

namespace lunor {

class SessionEnvironment;

// Application-wide state: this machine's session ID and the one host session.
// Lives on the main thread for the whole process.
class AppState final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString sessionId READ sessionId CONSTANT)
  Q_PROPERTY(lunor::RemoteSession* hostSession READ hostSession CONSTANT)

 public:
  // Reads or makes the machine ID, mirrors it under "kova.sessionId", and
  // creates the host session (not started). The environment is borrowed and
  // must outlive the state.
  explicit AppState(SessionEnvironment& environment, QObject* parent = nullptr);
  ~AppState() override;

  QString sessionId() const { return sessionId_; }
  RemoteSession* hostSession() const { return hostSession_.get(); }

  // Starts the host session in the host role with this machine's ID.
  void startHosting();

 private:
  QString sessionId_;
  std::unique_ptr<RemoteSession> hostSession_;
};

}  // namespace lunor
