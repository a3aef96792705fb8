#include "rtc/webrtc/webrtc_factory.h"

#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

#include "api/audio_codecs/builtin_audio_decoder_factory.h"
#include "api/audio_codecs/builtin_audio_encoder_factory.h"
#include "api/create_peerconnection_factory.h"
#include "api/jsep.h"
#include "api/peer_connection_interface.h"
#include "api/rtp_sender_interface.h"
#include "api/video/i420_buffer.h"
#include "api/video/video_frame.h"
#include "api/video_codecs/builtin_video_decoder_factory.h"
#include "api/video_codecs/builtin_video_encoder_factory.h"
#include "libyuv/convert.h"
#include "libyuv/convert_from.h"
#include "media/base/adapted_video_track_source.h"
#include "rtc_base/logging.h"
#include "rtc_base/thread.h"
#include "system_wrappers/include/field_trial.h"

namespace lunor::rtc {
namespace {

// Receivers render with no playout delay: a remote screen must be current.
// The string must live as long as the process (the library keeps the pointer).
constexpr char kFieldTrials[] = "WebRTC-ForcePlayoutDelay/min_ms:0,max_ms:0/";

void initialiseLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The library is chatty; keep it quiet unless asked (LUNOR_WEBRTC_LOG=1).
    const char* verbose = std::getenv("LUNOR_WEBRTC_LOG");
    if (verbose && std::string_view(verbose) == "1") {
      ::rtc::LogMessage::LogToDebug(::rtc::LS_INFO);
    } else {
      ::rtc::LogMessage::LogToDebug(::rtc::LS_NONE);
      ::rtc::LogMessage::SetLogToStderr(false);
    }
    webrtc::field_trial::InitFieldTrialsFromString(kFieldTrials);
  });
}

Error toError(const webrtc::RTCError& error) {
  if (error.ok()) return {};
  std::string message = error.message();
  if (message.empty()) message = webrtc::ToString(error.type());
  return Error{message};
}

IceConnectionState toIceState(webrtc::PeerConnectionInterface::IceConnectionState state) {
  using S = webrtc::PeerConnectionInterface::IceConnectionState;
  switch (state) {
    case S::kIceConnectionNew: return IceConnectionState::New;
    case S::kIceConnectionChecking: return IceConnectionState::Checking;
    case S::kIceConnectionConnected: return IceConnectionState::Connected;
    case S::kIceConnectionCompleted: return IceConnectionState::Completed;
    case S::kIceConnectionFailed: return IceConnectionState::Failed;
    case S::kIceConnectionDisconnected: return IceConnectionState::Disconnected;
    case S::kIceConnectionClosed: return IceConnectionState::Closed;
    default: return IceConnectionState::Unknown;
  }
}

webrtc::SdpType toSdpType(SdpType type) {
  switch (type) {
    case SdpType::Offer: return webrtc::SdpType::kOffer;
    case SdpType::PrAnswer: return webrtc::SdpType::kPrAnswer;
    case SdpType::Answer: return webrtc::SdpType::kAnswer;
    case SdpType::Rollback: return webrtc::SdpType::kRollback;
  }
  return webrtc::SdpType::kOffer;
}

SdpType fromSdpType(webrtc::SdpType type) {
  switch (type) {
    case webrtc::SdpType::kOffer: return SdpType::Offer;
    case webrtc::SdpType::kPrAnswer: return SdpType::PrAnswer;
    case webrtc::SdpType::kAnswer: return SdpType::Answer;
    case webrtc::SdpType::kRollback: return SdpType::Rollback;
  }
  return SdpType::Offer;
}

// "true" -> 1, "false" -> 0, anything else leaves the option undefined.
int constraintFlag(const MediaConstraints& constraints, const std::string& key) {
  auto find = [&](const std::map<std::string, std::string>& map) -> int {
    auto it = map.find(key);
    if (it == map.end()) return webrtc::PeerConnectionInterface::RTCOfferAnswerOptions::kUndefined;
    if (it->second == "true") return 1;
    if (it->second == "false") return 0;
    return webrtc::PeerConnectionInterface::RTCOfferAnswerOptions::kUndefined;
  };
  int value = find(constraints.mandatory);
  if (value == webrtc::PeerConnectionInterface::RTCOfferAnswerOptions::kUndefined) {
    value = find(constraints.optional);
  }
  return value;
}

webrtc::PeerConnectionInterface::RTCOfferAnswerOptions toOfferAnswerOptions(
    const MediaConstraints& constraints) {
  webrtc::PeerConnectionInterface::RTCOfferAnswerOptions options;
  options.offer_to_receive_video = constraintFlag(constraints, "OfferToReceiveVideo");
  options.offer_to_receive_audio = constraintFlag(constraints, "OfferToReceiveAudio");
  return options;
}

// Shared by every object the factory hands out, so the threads outlive the
// last connection, track or source that runs on them.
struct Context {
  std::unique_ptr<::rtc::Thread> network;
  std::unique_ptr<::rtc::Thread> worker;
  std::unique_ptr<::rtc::Thread> signaling;
  ::rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;

  ~Context() {
    factory = nullptr;
    if (signaling) signaling->Stop();
    if (worker) worker->Stop();
    if (network) network->Stop();
  }
};

// Holds an observer pointer that can be cleared from another thread; a
// callback runs with the lock held, so clearing waits for it to finish.
template <typename T>
class ObserverSlot {
 public:
  void set(T* observer) {
    std::lock_guard lock(mutex_);
    observer_ = observer;
  }
  template <typename F>
  void call(F&& f) {
    std::lock_guard lock(mutex_);
    if (observer_) f(*observer_);
  }

 private:
  std::recursive_mutex mutex_;
  T* observer_ = nullptr;
};

// ---------------------------------------------------------------- video ----

class ScreenTrackSource : public ::rtc::AdaptedVideoTrackSource {
 public:
  ScreenTrackSource() : ::rtc::AdaptedVideoTrackSource(/*required_alignment=*/2) {}

  void adapt(int width, int height, int fps) {
    // Scale down to the pixel budget while keeping the screen's aspect ratio:
    // cropping a shared screen would hide its edges.
    absl::optional<int> pixels;
    if (width > 0 && height > 0) pixels = width * height;
    absl::optional<int> maxFps;
    if (fps > 0) maxFps = fps;
    video_adapter()->OnOutputFormatRequest(absl::nullopt, pixels, maxFps);
  }

  void push(const VideoFrameView& frame) {
    if (!frame.data || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4) {
      return;
    }
    int outWidth = 0, outHeight = 0, cropWidth = 0, cropHeight = 0, cropX = 0, cropY = 0;
    if (!AdaptFrame(frame.width, frame.height, frame.timestampUs, &outWidth, &outHeight,
                    &cropWidth, &cropHeight, &cropX, &cropY)) {
      return;
    }
    const uint8_t* origin = frame.data + static_cast<size_t>(cropY) * frame.stride + cropX * 4;
    auto full = webrtc::I420Buffer::Create(cropWidth, cropHeight);
    libyuv::ARGBToI420(origin, frame.stride, full->MutableDataY(), full->StrideY(),
                       full->MutableDataU(), full->StrideU(), full->MutableDataV(),
                       full->StrideV(), cropWidth, cropHeight);
    ::rtc::scoped_refptr<webrtc::I420Buffer> buffer = full;
    if (outWidth != cropWidth || outHeight != cropHeight) {
      buffer = webrtc::I420Buffer::Create(outWidth, outHeight);
      buffer->ScaleFrom(*full);
    }
    OnFrame(webrtc::VideoFrame::Builder()
                .set_video_frame_buffer(buffer)
                .set_timestamp_us(frame.timestampUs)
                .set_rotation(webrtc::kVideoRotation_0)
                .build());
  }

  bool is_screencast() const override { return true; }
  absl::optional<bool> needs_denoising() const override { return false; }
  SourceState state() const override { return kLive; }
  bool remote() const override { return false; }
};

class WebRtcVideoSource final : public VideoSource {
 public:
  WebRtcVideoSource(std::shared_ptr<Context> context,
                    ::rtc::scoped_refptr<ScreenTrackSource> source)
      : context_(std::move(context)), source_(std::move(source)) {}
  ~WebRtcVideoSource() override { source_ = nullptr; }

  void adaptOutputFormat(int width, int height, int fps) override {
    source_->adapt(width, height, fps);
  }
  void pushFrame(const VideoFrameView& frame) override { source_->push(frame); }

  ScreenTrackSource* native() const { return source_.get(); }

 private:
  std::shared_ptr<Context> context_;
  ::rtc::scoped_refptr<ScreenTrackSource> source_;
};

// Converts each rendered frame to BGRA for one of our sinks.
class SinkAdapter final : public ::rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  explicit SinkAdapter(VideoSink* sink) : sink_(sink) {}
  VideoSink* sink() const { return sink_; }

  void OnFrame(const webrtc::VideoFrame& frame) override {
    ::rtc::scoped_refptr<webrtc::I420BufferInterface> i420 = frame.video_frame_buffer()->ToI420();
    if (!i420) return;
    const int width = i420->width();
    const int height = i420->height();
    const int stride = width * 4;
    bgra_.resize(static_cast<size_t>(stride) * height);
    libyuv::I420ToARGB(i420->DataY(), i420->StrideY(), i420->DataU(), i420->StrideU(),
                       i420->DataV(), i420->StrideV(), bgra_.data(), stride, width, height);
    sink_->onFrame(VideoFrameView{bgra_.data(), width, height, stride, frame.timestamp_us()});
  }

 private:
  VideoSink* sink_;
  std::vector<uint8_t> bgra_;
};

class WebRtcVideoTrack final : public VideoTrack {
 public:
  WebRtcVideoTrack(std::shared_ptr<Context> context,
                   ::rtc::scoped_refptr<webrtc::VideoTrackInterface> track)
      : context_(std::move(context)), track_(std::move(track)) {}

  ~WebRtcVideoTrack() override {
    std::lock_guard lock(mutex_);
    for (auto& adapter : sinks_) track_->RemoveSink(adapter.get());
    sinks_.clear();
    track_ = nullptr;
  }

  std::string trackId() const override { return track_->id(); }

  void addSink(VideoSink* sink) override {
    if (!sink) return;
    std::lock_guard lock(mutex_);
    for (auto& adapter : sinks_) {
      if (adapter->sink() == sink) return;
    }
    sinks_.push_back(std::make_unique<SinkAdapter>(sink));
    track_->AddOrUpdateSink(sinks_.back().get(), ::rtc::VideoSinkWants());
  }

  void removeSink(VideoSink* sink) override {
    std::lock_guard lock(mutex_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if ((*it)->sink() == sink) {
        // Returns once the library no longer delivers to this sink.
        track_->RemoveSink(it->get());
        sinks_.erase(it);
        return;
      }
    }
  }

  void setScreenContent(bool screen) override {
    track_->set_content_hint(screen ? webrtc::VideoTrackInterface::ContentHint::kText
                                    : webrtc::VideoTrackInterface::ContentHint::kNone);
  }

  webrtc::VideoTrackInterface* native() const { return track_.get(); }

 private:
  std::shared_ptr<Context> context_;
  ::rtc::scoped_refptr<webrtc::VideoTrackInterface> track_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<SinkAdapter>> sinks_;
};

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
  void setObserver(lunor::rtc::DataChannelObserver* observer) override { observer_.set(observer); }

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

class LocalDescriptionObserver : public webrtc::SetLocalDescriptionObserverInterface {
 public:
  explicit LocalDescriptionObserver(CompletionCallback done) : done_(std::move(done)) {}
  void OnSetLocalDescriptionComplete(webrtc::RTCError error) override {
    if (done_) done_(toError(error));
  }

 private:
  CompletionCallback done_;
};

class RemoteDescriptionObserver : public webrtc::SetRemoteDescriptionObserverInterface {
 public:
  explicit RemoteDescriptionObserver(CompletionCallback done) : done_(std::move(done)) {}
  void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override {
    if (done_) done_(toError(error));
  }

 private:
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
    pc_->Close();
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
      pc_->SetLocalDescription(std::move(native),
                               ::rtc::make_ref_counted<LocalDescriptionObserver>(std::move(done)));
    }
  }

  void setRemoteDescription(const SessionDescription& description,
                            CompletionCallback done) override {
    if (auto native = parse(description, done)) {
      pc_->SetRemoteDescription(std::move(native),
                                ::rtc::make_ref_counted<RemoteDescriptionObserver>(std::move(done)));
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

  IceConnectionState iceConnectionState() override {
    return toIceState(pc_->ice_connection_state());
  }

  void close() override { pc_->Close(); }

 private:
  std::shared_ptr<Context> context_;
  std::unique_ptr<EventBridge> bridge_;
  ::rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc_;
  std::vector<std::shared_ptr<VideoTrack>> tracks_;
};

// ---------------------------------------------------------------- factory ----

class WebRtcFactory final : public PeerConnectionFactory {
 public:
  explicit WebRtcFactory(std::shared_ptr<Context> context) : context_(std::move(context)) {}

  std::shared_ptr<VideoSource> createVideoSource() override {
    return std::make_shared<WebRtcVideoSource>(context_,
                                               ::rtc::make_ref_counted<ScreenTrackSource>());
  }

  std::shared_ptr<VideoTrack> createVideoTrack(std::shared_ptr<VideoSource> source,
                                               const std::string& trackId) override {
    auto* ours = dynamic_cast<WebRtcVideoSource*>(source.get());
    if (!ours) return nullptr;
    auto track = context_->factory->CreateVideoTrack(trackId, ours->native());
    if (!track) return nullptr;
    return std::make_shared<WebRtcVideoTrack>(context_, std::move(track));
  }

  std::shared_ptr<PeerConnection> createPeerConnection(const Configuration& configuration,
                                                       const MediaConstraints& /*constraints*/,
                                                       PeerConnectionObserver* observer) override {
    // The only peer connection constraint in use, DtlsSrtpKeyAgreement, is
    // always on in this library version.
    webrtc::PeerConnectionInterface::RTCConfiguration config;
    config.sdp_semantics = configuration.unifiedPlan ? webrtc::SdpSemantics::kUnifiedPlan
                                                     : webrtc::SdpSemantics::kPlanB_DEPRECATED;
    config.continual_gathering_policy =
        configuration.gatherContinually
            ? webrtc::PeerConnectionInterface::GATHER_CONTINUALLY
            : webrtc::PeerConnectionInterface::GATHER_ONCE;
    config.tcp_candidate_policy = configuration.tcpCandidates
                                      ? webrtc::PeerConnectionInterface::kTcpCandidatePolicyEnabled
                                      : webrtc::PeerConnectionInterface::kTcpCandidatePolicyDisabled;
    switch (configuration.iceTransportPolicy) {
      case IceTransportPolicy::NoCandidates: config.type = webrtc::PeerConnectionInterface::kNone; break;
      case IceTransportPolicy::Relay: config.type = webrtc::PeerConnectionInterface::kRelay; break;
      case IceTransportPolicy::NoHost: config.type = webrtc::PeerConnectionInterface::kNoHost; break;
      case IceTransportPolicy::All: config.type = webrtc::PeerConnectionInterface::kAll; break;
    }
    for (const auto& server : configuration.iceServers) {
      webrtc::PeerConnectionInterface::IceServer native;
      native.urls = server.urls;
      native.username = server.username;
      native.password = server.credential;
      config.servers.push_back(native);
    }

    auto bridge = std::make_unique<EventBridge>(context_);
    bridge->slot().set(observer);
    webrtc::PeerConnectionDependencies dependencies(bridge.get());
    auto result = context_->factory->CreatePeerConnectionOrError(config, std::move(dependencies));
    if (!result.ok()) return nullptr;
    return std::make_shared<WebRtcPeerConnection>(context_, std::move(bridge), result.MoveValue());
  }

 private:
  std::shared_ptr<Context> context_;
};

}  // namespace

void initialiseWebRtcLibrary() { initialiseLibraryOnce(); }

std::unique_ptr<PeerConnectionFactory> createWebRtcFactory(const FactoryOptions& options) {
  initialiseLibraryOnce();

  auto context = std::make_shared<Context>();
  context->network = ::rtc::Thread::CreateWithSocketServer();
  context->worker = ::rtc::Thread::Create();
  context->signaling = ::rtc::Thread::Create();
  context->network->SetName("lunor-rtc-network", nullptr);
  context->worker->SetName("lunor-rtc-worker", nullptr);
  context->signaling->SetName("lunor-rtc-signaling", nullptr);
  if (!context->network->Start() || !context->worker->Start() || !context->signaling->Start()) {
    return nullptr;
  }

  context->factory = webrtc::CreatePeerConnectionFactory(
      context->network.get(), context->worker.get(), context->signaling.get(),
      /*default_adm=*/nullptr, webrtc::CreateBuiltinAudioEncoderFactory(),
      webrtc::CreateBuiltinAudioDecoderFactory(), webrtc::CreateBuiltinVideoEncoderFactory(),
      webrtc::CreateBuiltinVideoDecoderFactory(), /*audio_mixer=*/nullptr,
      /*audio_processing=*/nullptr);
  if (!context->factory) return nullptr;

  webrtc::PeerConnectionFactoryInterface::Options factoryOptions;
  if (options.allowLoopback) {
    factoryOptions.network_ignore_mask &= ~::rtc::ADAPTER_TYPE_LOOPBACK;
  }
  context->factory->SetOptions(factoryOptions);

  return std::make_unique<WebRtcFactory>(std::move(context));
}

}  // namespace lunor::rtc
