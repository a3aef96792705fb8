#pragma once

// Small readers of what a session logged, sent or rendered, for tests.

#include <atomic>

#include <QJsonObject>
#include <QStringList>

#include "fake_environment.h"
#include "session/remote_session.h"
#include "rtc/peer_connection.h"
#include "test_ws_server.h"

namespace lunor::test {

// How many lines of the session log read "[time] " + text.
inline int loggedCount(const RemoteSession& session, const QString& text) {
  const QStringList logs = session.logs();
  return static_cast<int>(
      std::count_if(logs.begin(), logs.end(), [&](const QString& l) { return l.endsWith("] " + text); }));
}
inline bool logged(const RemoteSession& session, const QString& text) {
  return loggedCount(session, text) > 0;
}

// The messages of `type` the server received, in order.
inline QList<QJsonObject> messagesOfType(const TestWsServer& server, const QString& type) {
  QList<QJsonObject> found;
  for (const auto& object : server.receivedObjects()) {
    if (object.value("type") == type) found << object;
  }
  return found;
}

// The "data" of the "signal" messages whose payload type is `type`.
inline QList<QJsonObject> signalPayloads(const TestWsServer& server, const QString& type) {
  QList<QJsonObject> found;
  for (const auto& object : messagesOfType(server, "signal")) {
    const QJsonObject data = object.value("data").toObject();
    if (data.value("type") == type) found << data;
  }
  return found;
}

// A session on fake services, talking to a scripted signaling server.
// Members are made in order: the server, the environment, the session.
struct ScriptedSession {
  TestWsServer server;
  FakeEnvironment environment{};
  RemoteSession session{(environment.endpoint.url = server.url(), environment)};
};

// Counts rendered frames and keeps the last size.
class FrameCounter final : public rtc::VideoSink {
 public:
  void onFrame(const rtc::VideoFrameView& frame) override {
    width = frame.width;
    height = frame.height;
    ++frames;
  }
  std::atomic<int> frames{0};
  std::atomic<int> width{0};
  std::atomic<int> height{0};
};

}  // namespace lunor::test
