// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The adapter's peer connection, its data channels and senders, and the
// bridge from the library's events to our observer. Include from
// rtc/webrtc/ only.

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "api/dtls_transport_interface.h"
#include "api/jsep.h"
#include "api/rtp_sender_interface.h"
#include "api/sctp_transport_interface.h"
#include "rtc/webrtc/webrtc_stats.h"
#include "rtc/webrtc/webrtc_video.h"

namespace lunor::rtc::adapter {

// ----------------------------------------------------------- data channel ----

class WebRtcDataChannel final : public DataChannel, private webrtc::DataChannelObserver {
 public:
  WebRtcDataChannel(std::shared_ptr<Context> context,
                    ::rtc::scoped_refptr<webrtc::DataChannelInterface> channel)
      : context_(std::move(context)), channel_(std::move(channel)) {
    channel_->RegisterObserver(this);
  }
  ~WebRtcDataChannel() override {
    observer_.set(nullptr);
    channel_->UnregisterObserver();
    channel_ = nullptr;
  }

  std::string label() const override { return channel_->label(); }
  DataChannelState state() const override {
    return static_cast<DataChannelState>(static_cast<int>(channel_->state()));
  }
  bool send(const std::string& data, bool binary) override {
    return channel_->Send(webrtc::DataBuffer(::rtc::CopyOnWriteBuffer(data), binary));
  }
  uint64_t bufferedAmount() const override { return channel_->buffered_amount(); }
  void setObserver(lunor::rtc::DataChannelObserver* observer) override { observer_.set(observer); }
  void close() override { channel_->Close(); }

 private:
  void OnStateChange() override {
    const auto state = static_cast<DataChannelState>(static_cast<int>(channel_->state()));
    observer_.call([&](lunor::rtc::DataChannelObserver& o) { o.onStateChange(state); });
  }
  void OnMessage(const webrtc::DataBuffer& buffer) override {
    const std::string data(reinterpret_cast<const char*>(buffer.data.data()), buffer.data.size());
    observer_.call([&](lunor::rtc::DataChannelObserver& o) { o.onMessage(data, buffer.binary); });
  }

  std::shared_ptr<Context> context_;
  ::rtc::scoped_refptr<webrtc::DataChannelInterface> channel_;
  ObserverSlot<lunor::rtc::DataChannelObserver> observer_;
};

// ----------------------------------------------------------------- sender ----

class WebRtcRtpSender final : public RtpSender {
 public:
  WebRtcRtpSender(std::shared_ptr<Context> context,
                  ::rtc::scoped_refptr<webrtc::RtpSenderInterface> sender)
      : context_(std::move(context)), sender_(std::move(sender)) {}

  std::string trackId() const override {
    auto track = sender_->track();
    return track ? track->id() : std::string();
  }

  std::vector<RtpEncoding> encodings() const override {
    std::vector<RtpEncoding> result;
    for (const auto& encoding : sender_->GetParameters().encodings) {
      RtpEncoding e;
      if (encoding.min_bitrate_bps) e.minBitrateBps = *encoding.min_bitrate_bps;
      if (encoding.max_bitrate_bps) e.maxBitrateBps = *encoding.max_bitrate_bps;
      if (encoding.max_framerate) e.maxFramerate = *encoding.max_framerate;
      result.push_back(e);
    }
    return result;
  }

  Error setEncodings(const std::vector<RtpEncoding>& encodings) override {
    webrtc::RtpParameters parameters = sender_->GetParameters();
    if (parameters.encodings.empty() && !encodings.empty()) {
      parameters.encodings.emplace_back();
    }
    const size_t count = std::min(parameters.encodings.size(), encodings.size());
    for (size_t i = 0; i < count; ++i) {
      auto& target = parameters.encodings[i];
      const auto& source = encodings[i];
      if (source.minBitrateBps) target.min_bitrate_bps = *source.minBitrateBps;
      if (source.maxBitrateBps) target.max_bitrate_bps = *source.maxBitrateBps;
      if (source.maxFramerate) target.max_framerate = *source.maxFramerate;
    }
    return toError(sender_->SetParameters(parameters));
  }

 private:
  std::shared_ptr<Context> context_;
  ::rtc::scoped_refptr<webrtc::RtpSenderInterface> sender_;
};

// -------------------------------------------------------- peer connection ----

class DescriptionObserver : public webrtc::CreateSessionDescriptionObserver {
 public:
  explicit DescriptionObserver(DescriptionCallback done) : done_(std::move(done)) {}
  void OnSuccess(webrtc::SessionDescriptionInterface* raw) override {
    std::unique_ptr<webrtc::SessionDescriptionInterface> description(raw);
    if (!done_) return;
    if (!description) {
      done_(std::nullopt, Error{"no description"});
      return;
    }
    SessionDescription result;
    result.type = fromSdpType(description->GetType());
    description->ToString(&result.sdp);
    done_(std::move(result), {});
  }
  void OnFailure(webrtc::RTCError error) override {
    if (done_) done_(std::nullopt, toError(error).ok() ? Error{"failed"} : toError(error));
  }

 private:
  DescriptionCallback done_;
};

// Reports the end of setting a description, local or remote.
class DescriptionSetObserver : public webrtc::SetLocalDescriptionObserverInterface,
                               public webrtc::SetRemoteDescriptionObserverInterface {
 public:
  explicit DescriptionSetObserver(CompletionCallback done) : done_(std::move(done)) {}
  void OnSetLocalDescriptionComplete(webrtc::RTCError error) override { report(error); }
  void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { report(error); }

 private:
  void report(const webrtc::RTCError& error) {
    if (done_) done_(toError(error));
  }
  CompletionCallback done_;
};

// Receives the library's events; owned by WebRtcPeerConnection and outlives
// the native connection.
class EventBridge final : public webrtc::PeerConnectionObserver {
 public:
  explicit EventBridge(std::shared_ptr<Context> context) : context_(std::move(context)) {}
  ObserverSlot<lunor::rtc::PeerConnectionObserver>& slot() { return observer_; }

  void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override {}
  void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override {}
  void OnRenegotiationNeeded() override {}

  void OnIceConnectionChange(
      webrtc::PeerConnectionInterface::IceConnectionState state) override {
    const IceConnectionState ours = toIceState(state);
    observer_.call([&](lunor::rtc::PeerConnectionObserver& o) { o.onIceConnectionChange(ours); });
  }

  void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override {
    if (!candidate) return;
    IceCandidate ours;
    if (!candidate->ToString(&ours.sdp)) return;
    if (!candidate->sdp_mid().empty()) ours.sdpMid = candidate->sdp_mid();
    ours.sdpMLineIndex = candidate->sdp_mline_index();
    observer_.call([&](lunor::rtc::PeerConnectionObserver& o) { o.onIceCandidate(ours); });
  }

  void OnTrack(::rtc::scoped_refptr<webrtc::RtpTransceiverInterface> transceiver) override {
    auto receiver = transceiver ? transceiver->receiver() : nullptr;
    auto track = receiver ? receiver->track() : nullptr;
    if (!track || track->kind() != webrtc::MediaStreamTrackInterface::kVideoKind) return;
    ::rtc::scoped_refptr<webrtc::VideoTrackInterface> video(
        static_cast<webrtc::VideoTrackInterface*>(track.get()));
    auto ours = std::make_shared<WebRtcVideoTrack>(context_, std::move(video));
    observer_.call([&](lunor::rtc::PeerConnectionObserver& o) { o.onVideoTrack(ours); });
  }

  void OnDataChannel(::rtc::scoped_refptr<webrtc::DataChannelInterface> channel) override {
    if (!channel) return;
    auto ours = std::make_shared<WebRtcDataChannel>(context_, std::move(channel));
    observer_.call([&](lunor::rtc::PeerConnectionObserver& o) { o.onDataChannel(ours); });
  }

 private:
  std::shared_ptr<Context> context_;
  ObserverSlot<lunor::rtc::PeerConnectionObserver> observer_;
};

class WebRtcPeerConnection final : public PeerConnection {
 public:
  WebRtcPeerConnection(std::shared_ptr<Context> context, std::unique_ptr<EventBridge> bridge,
                       ::rtc::scoped_refptr<webrtc::PeerConnectionInterface> connection)
      : context_(std::move(context)), bridge_(std::move(bridge)), pc_(std::move(connection)) {}

  ~WebRtcPeerConnection() override {
    bridge_->slot().set(nullptr);
    const bool handshakeFailed = dtlsFailed_ || dtlsFailed();
    pc_->Close();
    // A connection whose DTLS handshake failed (a wrong certificate from the
    // peer, or from a relay in the middle) cannot be destroyed: the library
    // checks a weak pointer on the network thread on that failure and
    // invalidates it on the signaling thread when the connection goes,
    // which its thread check turns into an abort of the whole process. Such
    // a connection is closed and kept, with the bridge it may still call.
    if (handshakeFailed) keepForever(std::move(pc_), std::move(bridge_));
    pc_ = nullptr;  // the native connection goes before the bridge it calls
    bridge_.reset();
  }

  void setObserver(PeerConnectionObserver* observer) override { bridge_->slot().set(observer); }

  std::shared_ptr<RtpSender> addTrack(std::shared_ptr<VideoTrack> track,
                                      const std::vector<std::string>& streamIds) override {
    auto* ours = dynamic_cast<WebRtcVideoTrack*>(track.get());
    if (!ours) return nullptr;
    auto result = pc_->AddTrack(::rtc::scoped_refptr<webrtc::MediaStreamTrackInterface>(ours->native()),
                                streamIds);
    if (!result.ok()) return nullptr;
    tracks_.push_back(std::move(track));  // keeps the wrapper alive with the sender
    return std::make_shared<WebRtcRtpSender>(context_, result.MoveValue());
  }

  std::vector<std::shared_ptr<RtpSender>> senders() override {
    std::vector<std::shared_ptr<RtpSender>> result;
    for (auto& sender : pc_->GetSenders()) {
      result.push_back(std::make_shared<WebRtcRtpSender>(context_, sender));
    }
    return result;
  }

  std::shared_ptr<DataChannel> createDataChannel(const std::string& label, bool ordered) override {
    webrtc::DataChannelInit init;
    init.ordered = ordered;
    auto result = pc_->CreateDataChannelOrError(label, &init);
    if (!result.ok()) return nullptr;
    return std::make_shared<WebRtcDataChannel>(context_, result.MoveValue());
  }

  Error preferVideoCodec(const std::string& codecName) override {
    const auto capabilities =
        context_->factory->GetRtpSenderCapabilities(cricket::MEDIA_TYPE_VIDEO);
    std::vector<webrtc::RtpCodecCapability> preferred;
    std::vector<webrtc::RtpCodecCapability> rest;
    for (const auto& codec : capabilities.codecs) {
      (codec.name == codecName ? preferred : rest).push_back(codec);
    }
    if (preferred.empty()) return Error{"codec not available: " + codecName};
    preferred.insert(preferred.end(), rest.begin(), rest.end());
    for (const auto& transceiver : pc_->GetTransceivers()) {
      if (transceiver->media_type() != cricket::MEDIA_TYPE_VIDEO) continue;
      const Error error = toError(transceiver->SetCodecPreferences(preferred));
      if (!error.ok()) return error;
    }
    return {};
  }

  Error setBitrateRange(int minBps, int startBps, int maxBps) override {
    webrtc::BitrateSettings settings;
    settings.min_bitrate_bps = minBps;
    settings.start_bitrate_bps = startBps;
    settings.max_bitrate_bps = maxBps;
    return toError(pc_->SetBitrate(settings));
  }

  void createOffer(const MediaConstraints& constraints, DescriptionCallback done) override {
    pc_->CreateOffer(::rtc::make_ref_counted<DescriptionObserver>(std::move(done)).get(),
                     toOfferAnswerOptions(constraints));
  }

  void createAnswer(const MediaConstraints& constraints, DescriptionCallback done) override {
    pc_->CreateAnswer(::rtc::make_ref_counted<DescriptionObserver>(std::move(done)).get(),
                      toOfferAnswerOptions(constraints));
  }

  void setLocalDescription(const SessionDescription& description,
                           CompletionCallback done) override {
    if (auto native = parse(description, done)) {
      ::rtc::scoped_refptr<webrtc::SetLocalDescriptionObserverInterface> observer =
          ::rtc::make_ref_counted<DescriptionSetObserver>(std::move(done));
      pc_->SetLocalDescription(std::move(native), std::move(observer));
    }
  }

  void setRemoteDescription(const SessionDescription& description,
                            CompletionCallback done) override {
    if (auto native = parse(description, done)) {
      ::rtc::scoped_refptr<webrtc::SetRemoteDescriptionObserverInterface> observer =
          ::rtc::make_ref_counted<DescriptionSetObserver>(std::move(done));
      pc_->SetRemoteDescription(std::move(native), std::move(observer));
    }
  }

  // The library's form of a description; null after reporting a parse error.
  static std::unique_ptr<webrtc::SessionDescriptionInterface> parse(
      const SessionDescription& description, const CompletionCallback& done) {
    webrtc::SdpParseError parseError;
    auto native = webrtc::CreateSessionDescription(toSdpType(description.type), description.sdp,
                                                   &parseError);
    if (!native && done) done(Error{"SDP parse error: " + parseError.description});
    return native;
  }

  void addIceCandidate(const IceCandidate& candidate, CompletionCallback done) override {
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> native(webrtc::CreateIceCandidate(
        candidate.sdpMid.value_or(std::string()), candidate.sdpMLineIndex, candidate.sdp,
        &parseError));
    if (!native) {
      if (done) done(Error{"candidate parse error: " + parseError.description});
      return;
    }
    pc_->AddIceCandidate(std::move(native), [done = std::move(done)](webrtc::RTCError error) {
      if (done) done(toError(error));
    });
  }

  void restartIce() override { pc_->RestartIce(); }

  Error setIceServers(const std::vector<IceServer>& servers) override {
    auto config = pc_->GetConfiguration();
    config.servers.clear();
    for (const auto& server : servers) {
      webrtc::PeerConnectionInterface::IceServer native;
      native.urls = server.urls;
      native.username = server.username;
      native.password = server.credential;
      config.servers.push_back(native);
    }
    const webrtc::RTCError error = pc_->SetConfiguration(config);
    return error.ok() ? Error{} : Error{error.message()};
  }

  IceConnectionState iceConnectionState() override {
    return toIceState(pc_->ice_connection_state());
  }

  void getStats(std::function<void(ConnectionStats)> done) override {
    pc_->GetStats(::rtc::make_ref_counted<StatsCallback>(std::move(done)).get());
  }

  void close() override {
    dtlsFailed_ = dtlsFailed_ || dtlsFailed();  // read while the transports still say it
    pc_->Close();
  }

 private:
  bool dtlsFailed() {
    const auto failed = [](const ::rtc::scoped_refptr<webrtc::DtlsTransportInterface>& transport) {
      return transport && transport->Information().state() == webrtc::DtlsTransportState::kFailed;
    };
    // The SCTP transport answers on the network thread only.
    if (const auto sctp = pc_->GetSctpTransport();
        sctp && context_->network->BlockingCall([&] { return failed(sctp->dtls_transport()); })) {
      return true;
    }
    for (const auto& transceiver : pc_->GetTransceivers()) {
      if (failed(transceiver->sender()->dtls_transport())) return true;
    }
    return false;
  }
  static void keepForever(::rtc::scoped_refptr<webrtc::PeerConnectionInterface> connection,
                          std::unique_ptr<EventBridge> bridge) {
    struct Kept {
      std::mutex mutex;
      std::vector<std::pair<::rtc::scoped_refptr<webrtc::PeerConnectionInterface>, std::unique_ptr<EventBridge>>> all;
    };
    static Kept* kept = new Kept;  // never destroyed, not even at exit
    std::lock_guard lock(kept->mutex);
    kept->all.emplace_back(std::move(connection), std::move(bridge));
  }

  bool dtlsFailed_ = false;
  std::shared_ptr<Context> context_;
  std::unique_ptr<EventBridge> bridge_;
  ::rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc_;
  std::vector<std::shared_ptr<VideoTrack>> tracks_;
};

}  // namespace lunor::rtc::adapter
