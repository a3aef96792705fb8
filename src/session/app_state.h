// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "session/session.h"

namespace lunor {

class SessionEnvironment;

// Application-wide state: this machine's session ID and the one host session.
// Lives on the main thread for the whole process.
class AppState final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString sessionId READ sessionId CONSTANT)
  Q_PROPERTY(lunor::Session* hostSession READ hostSession CONSTANT)

 public:
  // Reads or makes the machine ID and mirrors it under "kova.sessionId". The
  // environment is borrowed and must outlive the state.
  explicit AppState(SessionEnvironment& environment, QObject* parent = nullptr);
  ~AppState() override;

  QString sessionId() const { return sessionId_; }
  // The host session the application made for this machine's ID (taken
  // over: it lives as long as the state); null until then.
  Session* hostSession() const { return hostSession_.get(); }
  void adoptHostSession(std::unique_ptr<Session> session) { hostSession_ = std::move(session); }

 private:
  QString sessionId_;
  std::unique_ptr<Session> hostSession_;
};

}  // namespace lunor
