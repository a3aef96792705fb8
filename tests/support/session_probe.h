// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small readers and drivers of a session on fake services, for tests.

#include <atomic>
#include <functional>
#include <memory>
#include <type_traits>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSize>
#include <QStringList>
#include <QTest>

#include "fake_environment.h"
#include "rtc/fake_rtc.h"
#include "client/client_session.h"
#include "host/host_session.h"
#include "test_ws_server.h"

namespace lunor::test {

// How many lines of the session log read "[time] " + text.
inline int loggedCount(const Session& session, const QString& text) {
  const QStringList logs = session.logs();
  return static_cast<int>(
      std::count_if(logs.begin(), logs.end(), [&](const QString& l) { return l.endsWith("] " + text); }));
}
inline bool logged(const Session& session, const QString& text) {
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

inline QJsonObject signalMessage(const QJsonObject& data) { return {{"type", "signal"}, {"data", data}}; }
inline QJsonObject joinRequest(const QString& clientId, const QString& name = QStringLiteral("Zoé")) {
  return {{"type", "join-request"}, {"clientId", clientId}, {"displayName", name}};
}

// A session of either side on fake services of its own.
template <typename S>
std::unique_ptr<S> makeSession(FakeEnvironment& environment) {
  if constexpr (std::is_same_v<S, HostSession>) {
    return std::make_unique<HostSession>(environment, environment);
  } else {
    return std::make_unique<ClientSession>(environment);
  }
}

// A session on fake services and a scripted signaling server; the host's or
// the client's, made by the first use of host() or client().
struct ScriptedSession {
  ScriptedSession() { environment.endpoint.url = server.url(); }

  TestWsServer server;
  FakeEnvironment environment{};

  HostSession& host() {
    Q_ASSERT(!client_);
    if (!host_) host_ = makeSession<HostSession>(environment);
    return *host_;
  }
  ClientSession& client() {
    Q_ASSERT(!host_);
    if (!client_) client_ = makeSession<ClientSession>(environment);
    return *client_;
  }
  // The one made.
  const Session& session() const { return host_ ? static_cast<const Session&>(*host_) : *client_; }

  QList<QJsonObject> payloads(const QString& type) const { return signalPayloads(server, type); }
  bool logged(const QString& text) const { return test::logged(session(), text); }
  // The newest peer connection the session asked for.
  rtc::FakePeerConnection* connection() const {
    if (environment.factories.empty() || environment.factories.front()->connections.empty()) return nullptr;
    return environment.factories.front()->connections.back().get();
  }
  FakeControlInjector& injector() const { return *environment.injectors.front(); }
  SyntheticScreenCapturer& capturer() const { return *environment.capturers.back(); }
  rtc::FakeVideoSource& source() const { return *environment.factories.front()->sources.back(); }

  // Host with its room requested.
  bool startHost() {
    host().startHost("123456789");
    return QTest::qWaitFor([&] { return !messagesOfType(server, "create").isEmpty(); }, 10000);
  }
  // Host that let client "c1" in and sent its offer: capture, track and
  // connection exist.
  bool hostWithClient() {
    if (!startHost()) return false;
    server.sendJson(joinRequest("c1"));
    if (!QTest::qWaitFor([&] { return host().pendingJoin(); }, 5000)) return false;
    host().approve();
    return QTest::qWaitFor([&] { return !payloads("offer").isEmpty(); }, 5000);
  }
  // The host's control channel, as the library would deliver messages on it.
  void sendControl(const QByteArray& text) {
    connection()->channels.front()->observer->onMessage(text.toStdString(), false);
  }
  // Client in the room, with its peer connection.
  bool clientInRoom() {
    client().startClient("123456789");
    if (!QTest::qWaitFor([&] { return server.openClients() == 1; }, 10000)) return false;
    server.sendJson({{"type", "joined"}});
    return QTest::qWaitFor([&] { return connection() != nullptr; }, 5000);
  }

 private:
  std::unique_ptr<HostSession> host_;
  std::unique_ptr<ClientSession> client_;
};

// A test class whose every test function gets a fresh scripted session.
class ScriptedSessionTest : public QObject {
  Q_OBJECT

 protected:
  QList<QJsonObject> ofType(const QString& type) const { return messagesOfType(*server, type); }
  QList<QJsonObject> payloads(const QString& type) const { return scripted->payloads(type); }
  bool logged(const QString& text) const { return scripted->logged(text); }

  // The session under test, as the host's or the client's (the first use
  // decides).
  HostSession* host() { return &scripted->host(); }
  ClientSession* client() { return &scripted->client(); }

  std::unique_ptr<ScriptedSession> scripted;
  // Views of the scripted session's parts, valid during a test function.
  TestWsServer* server = nullptr;
  FakeEnvironment* environment = nullptr;

 private Q_SLOTS:
  void init() {
    scripted = std::make_unique<ScriptedSession>();
    server = &scripted->server;
    environment = &scripted->environment;
  }
  void cleanup() { scripted.reset(); }
};

// A session of the side `role` on fake services of its own, against the
// test's signaling server; on the WebRTC factory `rtc` makes, if given.
struct SessionSide {
  SessionSide(Role role, const QUrl& server, std::function<std::unique_ptr<rtc::PeerConnectionFactory>()> rtc = {}) {
    environment.endpoint.url = server;
    environment.makeRtcFactory = std::move(rtc);
    if (role == Role::Host) {
      session = makeSession<HostSession>(environment);
    } else {
      session = makeSession<ClientSession>(environment);
    }
  }
  bool logged(const QString& text) const { return test::logged(*session, text); }
  int loggedCount(const QString& text) const { return test::loggedCount(*session, text); }
  HostSession& asHost() { return dynamic_cast<HostSession&>(*session); }
  ClientSession& asClient() { return dynamic_cast<ClientSession&>(*session); }

  FakeEnvironment environment;
  std::unique_ptr<Session> session;
};

// The host's room is open on a real signaling server.
inline bool openRoom(HostSession& host, const QString& room) {
  host.startHost(room);
  return QTest::qWaitFor([&] { return host.status() == Status::RoomOpen; }, 10000);
}
// The client has asked to join the host's open room and waits for its answer.
inline bool askToJoin(ClientSession& client, const HostSession& host, const QString& room) {
  client.startClient(room);
  return QTest::qWaitFor([&] { return host.pendingJoin(); }, 10000) &&
         QTest::qWaitFor([&] { return client.isWaitingApproval(); }, 5000);
}
// Host and client meet in `room` and the host lets the client in; true once
// the client has the host's video track.
inline bool meet(HostSession& host, ClientSession& client, const QString& room) {
  if (!openRoom(host, room) || !askToJoin(client, host, room)) return false;
  host.approve();
  return QTest::qWaitFor([&] { return client.hasRemoteVideoTrack(); }, 30000);
}

// Counts the frames a track renders, and keeps the last size, while it lives.
class FrameCounter final : public rtc::VideoSink {
 public:
  explicit FrameCounter(std::shared_ptr<rtc::VideoTrack> track) : track_(std::move(track)) { track_->addSink(this); }
  ~FrameCounter() override { track_->removeSink(this); }
  FrameCounter(const FrameCounter&) = delete;
  FrameCounter& operator=(const FrameCounter&) = delete;

  void onFrame(const rtc::I420FrameView& frame) override {
    width = frame.width;
    height = frame.height;
    ++frames;
  }
  // Waits for `count` frames more than have come so far.
  bool waitForMore(int count, int timeoutMs = 30000) {
    const int target = frames.load() + count;
    return QTest::qWaitFor([&] { return frames.load() >= target; }, timeoutMs);
  }
  QSize size() const { return {width.load(), height.load()}; }

  std::atomic<int> frames{0};
  std::atomic<int> width{0};
  std::atomic<int> height{0};

 private:
  std::shared_ptr<rtc::VideoTrack> track_;
};

}  // namespace lunor::test
