// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Wraps a real peer connection factory and records what passes through it:
// the descriptions each connection set, its data channels and the text sent
// on them. With `basicPeer` the side behaves, on its channels, as a peer that
// knows only the basic protocol: it announces no features.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rtc/peer_connection.h"

namespace lunor::test {

struct RtcRecord {
  std::mutex mutex;
  std::vector<std::string> localSdps;        // every local description set
  std::vector<std::string> remoteSdps;       // every remote description set
  std::vector<std::weak_ptr<rtc::PeerConnection>> connections;  // every one made, in order
  std::vector<std::string> channelLabels;  // made here or opened by the peer
  std::vector<std::weak_ptr<rtc::DataChannel>> channels;  // the same, to close one
  std::vector<std::string> sentTexts;      // text messages sent on any channel
  bool basicPeer = false;

  // A copy of one of the lists above, e.g. snapshot(&RtcRecord::sentTexts).
  std::vector<std::string> snapshot(std::vector<std::string> RtcRecord::*list) {
    std::lock_guard lock(mutex);
    return this->*list;
  }
};

class RecordingDataChannel final : public rtc::DataChannel {
 public:
  RecordingDataChannel(std::shared_ptr<rtc::DataChannel> inner, std::shared_ptr<RtcRecord> record)
      : inner_(std::move(inner)), record_(std::move(record)) {
    std::lock_guard lock(record_->mutex);
    record_->channelLabels.push_back(inner_->label());
    record_->channels.push_back(inner_);
  }
  std::string label() const override { return inner_->label(); }
  rtc::DataChannelState state() const override { return inner_->state(); }
  bool send(const std::string& data, bool binary) override {
    if (!binary) {
      std::lock_guard lock(record_->mutex);
      record_->sentTexts.push_back(data);
      if (record_->basicPeer && data.find("\"t\":\"features\"") != std::string::npos) return true;
    }
    return inner_->send(data, binary);
  }
  uint64_t bufferedAmount() const override { return inner_->bufferedAmount(); }
  void setObserver(rtc::DataChannelObserver* o) override { inner_->setObserver(o); }
  void close() override { inner_->close(); }

 private:
  std::shared_ptr<rtc::DataChannel> inner_;
  std::shared_ptr<RtcRecord> record_;
};

// Hands the session the peer's channels wrapped.
class RecordingObserver final : public rtc::PeerConnectionObserver {
 public:
  RecordingObserver(rtc::PeerConnectionObserver* inner, std::shared_ptr<RtcRecord> record)
      : inner_(inner), record_(std::move(record)) {}
  void onIceConnectionChange(rtc::IceConnectionState s) override { inner_->onIceConnectionChange(s); }
  void onIceCandidate(const rtc::IceCandidate& c) override { inner_->onIceCandidate(c); }
  void onVideoTrack(std::shared_ptr<rtc::VideoTrack> t) override { inner_->onVideoTrack(std::move(t)); }
  void onDataChannel(std::shared_ptr<rtc::DataChannel> c) override {
    inner_->onDataChannel(std::make_shared<RecordingDataChannel>(std::move(c), record_));
  }

 private:
  rtc::PeerConnectionObserver* inner_;
  std::shared_ptr<RtcRecord> record_;
};

class RecordingPeerConnection final : public rtc::PeerConnection {
 public:
  RecordingPeerConnection(std::shared_ptr<rtc::PeerConnection> inner, std::shared_ptr<RtcRecord> record,
                          std::unique_ptr<RecordingObserver> observer)
      : inner_(std::move(inner)), record_(std::move(record)), observer_(std::move(observer)) {}
  void setObserver(rtc::PeerConnectionObserver* o) override {
    if (!o) {
      inner_->setObserver(nullptr);  // no call in flight once it returns
      observer_.reset();
      return;
    }
    observer_ = std::make_unique<RecordingObserver>(o, record_);
    inner_->setObserver(observer_.get());
  }
  std::shared_ptr<rtc::RtpSender> addTrack(std::shared_ptr<rtc::VideoTrack> track,
                                           const std::vector<std::string>& ids) override {
    return inner_->addTrack(std::move(track), ids);
  }
  std::vector<std::shared_ptr<rtc::RtpSender>> senders() override { return inner_->senders(); }
  std::shared_ptr<rtc::DataChannel> createDataChannel(const std::string& label, bool ordered) override {
    auto channel = inner_->createDataChannel(label, ordered);
    if (!channel) return nullptr;
    return std::make_shared<RecordingDataChannel>(std::move(channel), record_);
  }
  rtc::Error preferVideoCodec(const std::string& name) override { return inner_->preferVideoCodec(name); }
  rtc::Error setBitrateRange(int a, int b, int c) override { return inner_->setBitrateRange(a, b, c); }
  void createOffer(const rtc::MediaConstraints& c, rtc::DescriptionCallback done) override {
    inner_->createOffer(c, std::move(done));
  }
  void createAnswer(const rtc::MediaConstraints& c, rtc::DescriptionCallback done) override {
    inner_->createAnswer(c, std::move(done));
  }
  void setLocalDescription(const rtc::SessionDescription& d, rtc::CompletionCallback done) override {
    {
      std::lock_guard lock(record_->mutex);
      record_->localSdps.push_back(d.sdp);
    }
    inner_->setLocalDescription(d, std::move(done));
  }
  void setRemoteDescription(const rtc::SessionDescription& d, rtc::CompletionCallback done) override {
    {
      std::lock_guard lock(record_->mutex);
      record_->remoteSdps.push_back(d.sdp);
    }
    inner_->setRemoteDescription(d, std::move(done));
  }
  void addIceCandidate(const rtc::IceCandidate& c, rtc::CompletionCallback done) override {
    inner_->addIceCandidate(c, std::move(done));
  }
  void restartIce() override { inner_->restartIce(); }
  rtc::Error setIceServers(const std::vector<rtc::IceServer>& servers) override { return inner_->setIceServers(servers); }
  rtc::IceConnectionState iceConnectionState() override { return inner_->iceConnectionState(); }
  void getStats(std::function<void(rtc::ConnectionStats)> done) override { inner_->getStats(std::move(done)); }
  void close() override { inner_->close(); }

 private:
  std::shared_ptr<rtc::PeerConnection> inner_;
  std::shared_ptr<RtcRecord> record_;
  std::unique_ptr<RecordingObserver> observer_;
};

class RecordingFactory final : public rtc::PeerConnectionFactory {
 public:
  RecordingFactory(std::unique_ptr<rtc::PeerConnectionFactory> inner, std::shared_ptr<RtcRecord> record)
      : inner_(std::move(inner)), record_(std::move(record)) {}
  std::shared_ptr<rtc::VideoSource> createVideoSource() override { return inner_->createVideoSource(); }
  std::shared_ptr<rtc::VideoTrack> createVideoTrack(std::shared_ptr<rtc::VideoSource> source,
                                                    const std::string& id) override {
    return inner_->createVideoTrack(std::move(source), id);
  }
  std::shared_ptr<rtc::PeerConnection> createPeerConnection(const rtc::Configuration& config,
                                                            const rtc::MediaConstraints& constraints,
                                                            rtc::PeerConnectionObserver* observer) override {
    auto wrapped = std::make_unique<RecordingObserver>(observer, record_);
    auto inner = inner_->createPeerConnection(config, constraints, wrapped.get());
    if (!inner) return nullptr;
    auto connection = std::make_shared<RecordingPeerConnection>(std::move(inner), record_, std::move(wrapped));
    std::lock_guard lock(record_->mutex);
    record_->connections.push_back(connection);
    return connection;
  }
  std::string certificateFingerprint() const override { return inner_->certificateFingerprint(); }

 private:
  std::unique_ptr<rtc::PeerConnectionFactory> inner_;
  std::shared_ptr<RtcRecord> record_;
};

}  // namespace lunor::test
