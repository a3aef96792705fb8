// SPDX-License-Identifier: GPL-3.0-or-later
#include "native_receiver.h"

#include <algorithm>
#include <utility>

#include <QSettings>
#include <QTest>

#include "cpu_time.h"
#include "fake_environment.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "features/feature_exchange.h"
#include "features/session_features.h"
#include "client/client_session.h"
#include "session/service_config.h"
#include "stamp.h"

namespace lunor::bench {

namespace {

// The application's peer configuration with its TURN server at turnUrl and
// relayed candidates only, read as the application reads it: from the
// environment, over its settings. This process's environment is left as
// it was (the host, another process, gets its own).
rtc::Configuration relayedConfiguration(const QString& turnUrl, const QSettings& settings) {
  const QString address = QString(turnUrl).remove(QStringLiteral("turn:"));
  const std::pair<const char*, QByteArray> overrides[] = {{kTurnUrlEnv, turnUrl.toUtf8()},
                                                          {kStunUrlEnv, ("stun:" + address).toUtf8()},
                                                          {kTransportPolicyEnv, "relay"}};
  std::vector<std::optional<QByteArray>> before;
  for (const auto& [name, value] : overrides) {
    before.push_back(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, value);
  }
  rtc::Configuration config = peerConfiguration(settings);
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i]) qputenv(overrides[i].first, *before[i]);
    else qunsetenv(overrides[i].first);
  }
  return config;
}

}  // namespace

NativeReceiver::NativeReceiver(QUrl signaling, const Stamp& stamp)
    : signaling_(std::move(signaling)), stamp_(stamp) {}

NativeReceiver::~NativeReceiver() { leave(); }

std::optional<double> NativeReceiver::join(const QString& room, const QString& password,
                                           QualityProfile profile) {
  environment_ = std::make_unique<test::FakeEnvironment>();
  if (!turnUrl_.isEmpty()) environment_->peerConfig = relayedConfiguration(turnUrl_, environment_->settings());
  environment_->endpoint.url = signaling_;
  environment_->makeRtcFactory = [] { return rtc::createWebRtcFactory(); };
  environment_->profileStore().setFirstName(QStringLiteral("Banc"));
  session_ = std::make_unique<ClientSession>(*environment_);
  ClientSession& s = *session_;
  QObject::connect(&s, &ClientSession::askUnattendedPasswordChanged, &s, [&s, password] {
    if (s.askUnattendedPassword()) s.submitUnattendedPassword(password);
  });
  QObject::connect(&s, &ClientSession::connectionStateChanged, &s, [&s, profile] {
    if (s.linkState() == LinkState::Connected) s.requestQuality(rawValue(profile));
  });
  QObject::connect(&s, &ClientSession::remoteVideoTrackChanged, &s, [this] {
    auto track = session_->remoteVideoTrack();
    if (track == track_) return;
    if (track_) track_->removeSink(this);
    track_ = std::move(track);
    if (track_) track_->addSink(this);
  });
  {
    std::lock_guard lock(mutex_);
    firstFrameUs_ = 0;
  }
  const int64_t started = monotonicUs();
  s.startClient(room);
  const bool pictured = QTest::qWaitFor(
      [&] {
        std::lock_guard lock(mutex_);
        return firstFrameUs_ != 0;
      },
      20000);
  if (!pictured) {
    error_ = QStringLiteral("no picture within 20 s (link state %1)").arg(s.linkStateCode());
    return std::nullopt;
  }
  std::lock_guard lock(mutex_);
  return (firstFrameUs_ - started) / 1000.0;
}

void NativeReceiver::onFrame(const rtc::I420FrameView& frame) {
  const int64_t now = monotonicUs();
  const auto stamp = readStamp({frame.y, frame.strideY, frame.width, frame.height});
  std::lock_guard lock(mutex_);
  if (firstFrameUs_ == 0) firstFrameUs_ = now;
  if (keeping_) kept_.push_back({now, stamp, copyLuma(frame.y, frame.strideY, frame.width, frame.height)});
  if (!measuring_) return;
  ReceiverWindow& w = window_;
  ++w.frames;
  w.width = frame.width;
  w.height = frame.height;
  const int64_t drawn = stamp ? stamp_.drawnAt(*stamp) : 0;
  w.pictures.push_back({now, drawn});
  if (drawn == 0) {
    ++w.unreadable;
    return;
  }
  const bool repeat = *stamp == lastStamp_;
  if (repeat) ++w.repeats;
  lastStamp_ = *stamp;
  if (!repeat || !stamp_.timedOnce()) {
    w.latenciesMs.push_back((now - drawn) / 1000.0);
    w.timedStamps.push_back(*stamp);
  }
}

std::optional<rtc::VideoReceiveStats> NativeReceiver::receiveStats() {
  if (!session_) return std::nullopt;
  // Shared: the answer may come after we stopped waiting for it.
  struct Answer {
    bool done = false;
    std::optional<rtc::VideoReceiveStats> stats;
  };
  auto answer = std::make_shared<Answer>();
  session_->collectStats([answer](const rtc::ConnectionStats& stats) {
    answer->stats = stats.receive;
    answer->done = true;
  });
  std::ignore = QTest::qWaitFor([&] { return answer->done; }, 5000);
  return answer->stats;
}

double NativeReceiver::ownCpu() const { return cpuSeconds() - stamp_.cpuSeconds(); }

void NativeReceiver::beginWindow() {
  statsAtStart_ = receiveStats().value_or(rtc::VideoReceiveStats{});
  cpuAtStart_ = ownCpu();
  std::lock_guard lock(mutex_);
  window_ = {};
  measuring_ = true;
  windowStartUs_ = monotonicUs();
  window_.startUs = windowStartUs_;
}

ReceiverWindow NativeReceiver::endWindow() {
  ReceiverWindow w;
  {
    std::lock_guard lock(mutex_);
    measuring_ = false;
    w = std::move(window_);
    window_ = {};
    w.seconds = (monotonicUs() - windowStartUs_) / 1e6;
  }
  w.cpuSeconds = ownCpu() - cpuAtStart_;
  if (const auto end = receiveStats()) {
    addReceiveStats(w, statsAtStart_, *end);
    // Our receivers play out with no delay; the library's jitter-buffer
    // figure is then its estimator's wish, not what frames waited. What they
    // did wait is what remains of first packet → decoded.
    if (w.processingMs >= 0) w.jitterBufferMs = std::max(0.0, w.processingMs - w.assemblyMs - w.decodeMs);
  }
  return w;
}

void NativeReceiver::leave() {
  if (!session_) return;
  if (track_) track_->removeSink(this);
  track_.reset();
  session_->stop(QStringLiteral("Session terminée par le client"));
  QTest::qWait(500);
  session_.reset();
  environment_.reset();
}

bool NativeReceiver::keepPictures(bool on) {
  std::lock_guard lock(mutex_);
  keeping_ = on;
  if (!on) kept_.clear();
  return true;
}

std::vector<KeptPicture> NativeReceiver::takeKeptPictures() {
  std::lock_guard lock(mutex_);
  return std::exchange(kept_, {});
}

bool NativeReceiver::sendKey(uint16_t macKeyCode, bool down) {
  if (!session_) return false;
  session_->sendControl(keyMessage(macKeyCode, down));
  return true;
}

bool NativeReceiver::sendFile(const QString& path) {
  if (!session_) return false;
  // The features are agreed a moment after the picture comes.
  std::ignore = QTest::qWaitFor([&] { return SessionFeatures::of(session_->features()).exchange().common().has_value(); }, 5000);
  return SessionFeatures::of(session_->features()).exchange().sendFile(path);
}

Receiver::FileState NativeReceiver::fileState() const {
  if (!session_) return {true, false, QStringLiteral("no session")};
  const auto transfers = SessionFeatures::of(session_->features()).exchange().transfers();
  if (transfers.empty()) return {true, false, QStringLiteral("no transfer")};
  const TransferProgress& p = transfers.front().progress;
  using State = TransferProgress::State;
  return {p.state != State::Waiting && p.state != State::Running, p.state == State::Done, p.reason};
}

}  // namespace lunor::bench
