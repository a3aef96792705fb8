// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A scripted stand-in for the WebRTC library, for tests: connections report
// whatever ICE state the test sets and record what they were asked.

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rtc/peer_connection.h"

namespace lunor::rtc {

class FakeDataChannel final : public rtc::DataChannel {
 public:
  explicit FakeDataChannel(std::string label) : label_(std::move(label)) {}
  std::string label() const override { return label_; }
  rtc::DataChannelState state() const override { return state_; }
  bool send(const std::string& data, bool binary) override {
    if (state_ != rtc::DataChannelState::Open) return false;
    sent.push_back({data, binary});
    return true;
  }
  uint64_t bufferedAmount() const override { return buffered; }
  void setObserver(rtc::DataChannelObserver* o) override { observer = o; }
  void close() override { state_ = rtc::DataChannelState::Closed; }

  rtc::DataChannelState state_ = rtc::DataChannelState::Connecting;
  uint64_t buffered = 0;
  rtc::DataChannelObserver* observer = nullptr;
  std::vector<std::pair<std::string, bool>> sent;

 private:
  std::string label_;
};

class FakeVideoSource final : public rtc::VideoSource {
 public:
  void adaptOutputFormat(int width, int height, int fps) override {
    std::lock_guard lock(mutex);
    formats.push_back(std::to_string(width) + "x" + std::to_string(height) + "@" + std::to_string(fps));
  }
  void pushFrame(const rtc::VideoFrameView&) override { ++frames; }
  bool repeatLastFrame(int64_t) override {
    if (frames == 0) return false;
    ++frames;
    ++repeats;
    return true;
  }
  void sendKeyFrame() override { ++keyFrames; }
  std::vector<std::string> formatsSnapshot() {
    std::lock_guard lock(mutex);
    return formats;
  }
  std::mutex mutex;
  std::vector<std::string> formats;
  std::atomic<int> frames{0};
  std::atomic<int> keyFrames{0};
  std::atomic<int> repeats{0};
};

class FakeVideoTrack final : public rtc::VideoTrack {
 public:
  explicit FakeVideoTrack(std::string id) : id_(std::move(id)) {}
  std::string trackId() const override { return id_; }
  void addSink(rtc::VideoSink* sink) override {
    std::lock_guard lock(mutex_);
    if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
  }
  // Like the library's: returns once no delivery to the sink runs.
  void removeSink(rtc::VideoSink* sink) override {
    std::lock_guard lock(mutex_);
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
  }
  void setScreenContent(bool screen) override { screenContent = screen; }

  // Renders a frame to every sink, from the calling thread.
  void deliver(rtc::I420FrameView frame) {
    if (!frame.toBgra) frame.toBgra = &plainToBgra;
    std::lock_guard lock(mutex_);
    for (auto* sink : sinks_) sink->onFrame(frame);
  }
  // The conversion done plainly: nearest sample, BT.601 limited range.
  static void plainToBgra(const rtc::I420FrameView& f, uint8_t* bgra, int stride, int width, int height) {
    const auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int r = 0; r < height; ++r) {
      const int sr = r * f.height / height;
      for (int c = 0; c < width; ++c) {
        const int sc = c * f.width / width;
        const int y = (f.y[sr * f.strideY + sc] - 16) * 298, u = f.u[sr / 2 * f.strideU + sc / 2] - 128,
                  v = f.v[sr / 2 * f.strideV + sc / 2] - 128;
        uint8_t* p = bgra + size_t(r) * size_t(stride) + 4 * size_t(c);
        p[0] = clamp((y + 516 * u + 128) >> 8);
        p[1] = clamp((y - 100 * u - 208 * v + 128) >> 8);
        p[2] = clamp((y + 409 * v + 128) >> 8);
        p[3] = 255;
      }
    }
  }
  size_t sinkCount() {
    std::lock_guard lock(mutex_);
    return sinks_.size();
  }

  bool screenContent = false;

 private:
  std::string id_;
  std::mutex mutex_;
  std::vector<rtc::VideoSink*> sinks_;
};

class FakeRtpSender final : public rtc::RtpSender {
 public:
  explicit FakeRtpSender(std::string trackId) : trackId_(std::move(trackId)) {}
  std::string trackId() const override { return trackId_; }
  // As the library: no encoding before a description is set, and no other
  // count of them after.
  std::vector<rtc::RtpEncoding> encodings() const override { return encodings_; }
  rtc::Error setEncodings(const std::vector<rtc::RtpEncoding>& e) override {
    if (e.size() != encodings_.size()) return rtc::Error{"Attempted to set RtpParameters with different encoding count"};
    encodings_ = e;
    return {};
  }
  void described() {
    if (encodings_.empty()) encodings_.emplace_back();
  }

 private:
  std::string trackId_;
  std::vector<rtc::RtpEncoding> encodings_;
};

class FakePeerConnection final : public rtc::PeerConnection {
 public:
  void setObserver(rtc::PeerConnectionObserver* o) override { observer = o; }
  std::shared_ptr<rtc::RtpSender> addTrack(std::shared_ptr<rtc::VideoTrack> track,
                                           const std::vector<std::string>&) override {
    auto sender = std::make_shared<FakeRtpSender>(track->trackId());
    senderList.push_back(sender);
    return sender;
  }
  std::vector<std::shared_ptr<rtc::RtpSender>> senders() override {
    return {senderList.begin(), senderList.end()};
  }
  std::shared_ptr<rtc::DataChannel> createDataChannel(const std::string& label, bool) override {
    auto channel = std::make_shared<FakeDataChannel>(label);
    channels.push_back(channel);
    return channel;
  }
  rtc::Error preferVideoCodec(const std::string& name) override {
    preferredCodec = name;
    return {};
  }
  rtc::Error setBitrateRange(int minBps, int startBps, int maxBps) override {
    bitrateRange = {minBps, startBps, maxBps};
    return {};
  }
  void createOffer(const rtc::MediaConstraints&, rtc::DescriptionCallback done) override {
    ++offers;
    done(rtc::SessionDescription{rtc::SdpType::Offer, description()}, {});
  }
  void createAnswer(const rtc::MediaConstraints&, rtc::DescriptionCallback done) override {
    done(rtc::SessionDescription{rtc::SdpType::Answer, description()}, {});
  }
  std::string description() const {
    return fingerprint.empty() ? "v=0\r\n" : "v=0\r\na=fingerprint:" + fingerprint + "\r\n";
  }
  void setLocalDescription(const rtc::SessionDescription& d, rtc::CompletionCallback done) override {
    localDescriptions.push_back(d);
    for (const auto& sender : senderList) sender->described();
    if (done) done({});
  }
  void setRemoteDescription(const rtc::SessionDescription& d,
                            rtc::CompletionCallback done) override {
    remoteDescriptions.push_back(d);
    if (done) done({});
  }
  void addIceCandidate(const rtc::IceCandidate& c, rtc::CompletionCallback done) override {
    candidates.push_back(c);
    if (done) done({});
  }
  void restartIce() override { ++iceRestarts; }
  rtc::Error setIceServers(const std::vector<rtc::IceServer>& servers) override {
    iceServers = servers;
    return {};
  }
  rtc::IceConnectionState iceConnectionState() override { return state.load(); }
  void getStats(std::function<void(rtc::ConnectionStats)> done) override {
    if (done) done(stats);
  }
  void close() override {
    closed = true;
    state = rtc::IceConnectionState::Closed;
  }

  // Sets the state and tells the observer, as the library would.
  void reportIceState(rtc::IceConnectionState s) {
    state = s;
    if (observer) observer->onIceConnectionChange(s);
  }

  std::string fingerprint;      // the factory's certificate, in the descriptions
  rtc::ConnectionStats stats;  // what getStats() reports
  std::string preferredCodec;
  int offers = 0;
  int iceRestarts = 0;
  std::vector<rtc::IceServer> iceServers;  // from setIceServers
  std::vector<int> bitrateRange;
  std::atomic<rtc::IceConnectionState> state{rtc::IceConnectionState::New};
  rtc::PeerConnectionObserver* observer = nullptr;
  bool closed = false;
  std::vector<std::shared_ptr<FakeDataChannel>> channels;
  std::vector<std::shared_ptr<FakeRtpSender>> senderList;
  std::vector<rtc::SessionDescription> localDescriptions;
  std::vector<rtc::SessionDescription> remoteDescriptions;
  std::vector<rtc::IceCandidate> candidates;
};

class FakePeerConnectionFactory final : public rtc::PeerConnectionFactory {
 public:
  std::shared_ptr<rtc::VideoSource> createVideoSource() override {
    auto source = std::make_shared<FakeVideoSource>();
    sources.push_back(source);
    return source;
  }
  std::shared_ptr<rtc::VideoTrack> createVideoTrack(std::shared_ptr<rtc::VideoSource>,
                                                    const std::string& id) override {
    return std::make_shared<FakeVideoTrack>(id);
  }
  std::shared_ptr<rtc::PeerConnection> createPeerConnection(
      const rtc::Configuration& configuration, const rtc::MediaConstraints&,
      rtc::PeerConnectionObserver* observer) override {
    lastConfiguration = configuration;
    auto connection = std::make_shared<FakePeerConnection>();
    connection->observer = observer;
    connection->fingerprint = fingerprint;
    connections.push_back(connection);
    return connection;
  }
  std::string certificateFingerprint() const override { return fingerprint; }

  // Empty: descriptions without one, as the fakes always had.
  std::string fingerprint;

  rtc::Configuration lastConfiguration;
  std::vector<std::shared_ptr<FakePeerConnection>> connections;
  std::vector<std::shared_ptr<FakeVideoSource>> sources;
};

}  // namespace lunor::rtc
