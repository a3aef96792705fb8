// SPDX-License-Identifier: GPL-3.0-or-later
#include "rtc/webrtc/webrtc_factory.h"
#include "rtc/webrtc/webrtc_video.h"

#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

#include "api/audio_codecs/builtin_audio_decoder_factory.h"
#include "api/audio_codecs/builtin_audio_encoder_factory.h"
#include "api/create_peerconnection_factory.h"
#include "api/rtc_event_log/rtc_event_log_factory.h"
#include "api/task_queue/default_task_queue_factory.h"
#include "api/transport/field_trial_based_config.h"
#include "api/video_codecs/builtin_video_decoder_factory.h"
#include "api/video_codecs/builtin_video_encoder_factory.h"
#include "media/engine/webrtc_media_engine.h"
#include "modules/audio_processing/include/audio_processing.h"
#include "rtc/webrtc/data_transport.h"
#include "rtc/webrtc/gap_aware_controller.h"
#include "rtc/webrtc/h264_encoder_adapter.h"
#include "rtc/webrtc/webrtc_connection.h"
#include "rtc_base/logging.h"
#include "rtc_base/rtc_certificate_generator.h"
#include "rtc_base/ssl_fingerprint.h"
#include "system_wrappers/include/field_trial.h"

namespace lunor::rtc {
namespace {

using namespace adapter;

// A remote screen must be current, whoever receives it:
// - our receivers render with no playout delay;
// - our senders ask every receiver (a browser, a macOS peer) for the same,
//   through the playout-delay header extension, picture by picture
//   (min = max = 0; without it a browser's jitter buffer reads the pacer's
//   spreading of each frame as network jitter and holds frames for 30-50 ms
//   more), except for some room on a lossy link while the viewer only
//   watches (playout_room.h);
// - the pacer sends each frame in one burst (up to 20 ms' worth) instead of
//   spreading its packets, which the receivers' jitter estimators also read
//   as jitter;
// - a sender holds at most its round trip plus 100 ms of media in flight
//   and in its pacer's queue: beyond that the encoder's rate is pushed back
//   and pictures are dropped, so that a link that carries less than the
//   estimate said never builds seconds of queue;
// - the congestion controller is ours (the library's, told about gaps in
//   the link: gap_aware_controller.h); the library takes it only with this
//   trial on;
// - a screen's pacer sends at 2.5 times the estimate (the library's own
//   setting for screens, given only with this trial; without it 1.1 times:
//   a 50 KB picture of a page scrolled took 45 ms to leave at 8 Mbit/s and
//   held the pictures after it), and while the screen sends less than the
//   link carries the estimate is probed now and then, so that a picture
//   larger than most is not held to what the small ones needed. Its fields:
//   pacing factor, the pacer's queue limit in ms, and the thresholds of the
//   application-limited region.
// The string must live as long as the process (the library keeps the pointer).
constexpr char kFieldTrials[] =
    "WebRTC-ForcePlayoutDelay/min_ms:0,max_ms:0/"
    "WebRTC-BurstyPacer/burst:20ms/"
    "WebRTC-CongestionWindow/QueueSize:100,MinBitrate:30000,DropFrame:true/"
    "WebRTC-AddPacingToCongestionWindowPushback/Enabled/"
    "WebRTC-Bwe-InjectedCongestionController/Enabled/"
    "WebRTC-ProbingScreenshareBwe/2.5,2875,80,40,-60,3/";

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
    // For measuring: LUNOR_WEBRTC_FIELD_TRIALS replaces the string (the
    // environment outlives the library, as it needs).
    const char* override = std::getenv("LUNOR_WEBRTC_FIELD_TRIALS");
    webrtc::field_trial::InitFieldTrialsFromString(override ? override : kFieldTrials);
  });
}

// ---------------------------------------------------------------- factory ----

class WebRtcFactory final : public PeerConnectionFactory {
 public:
  explicit WebRtcFactory(std::shared_ptr<Context> context)
      : context_(std::move(context)),
        certificate_(::rtc::RTCCertificateGenerator::GenerateCertificate(::rtc::KeyParams::ECDSA(::rtc::EC_NIST_P256),
                                                                         absl::nullopt)) {
    if (certificate_) {
      if (const auto fingerprint = ::rtc::SSLFingerprint::CreateFromCertificate(*certificate_)) {
        fingerprint_ = fingerprint->algorithm + " " + fingerprint->GetRfc4572Fingerprint();
      }
    }
  }

  std::string certificateFingerprint() const override { return fingerprint_; }

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

    if (certificate_) config.certificates.push_back(certificate_);

    auto bridge = std::make_unique<EventBridge>(context_);
    bridge->slot().set(observer);
    webrtc::PeerConnectionDependencies dependencies(bridge.get());
    auto result = context_->factory->CreatePeerConnectionOrError(config, std::move(dependencies));
    if (!result.ok()) return nullptr;
    return std::make_shared<WebRtcPeerConnection>(context_, std::move(bridge), result.MoveValue());
  }

 private:
  std::shared_ptr<Context> context_;
  ::rtc::scoped_refptr<::rtc::RTCCertificate> certificate_;
  std::string fingerprint_;
};

}  // namespace

ToBgra libraryToBgra() { return &adapter::i420ToBgra; }

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

  std::string h264Encoder = options.h264Encoder;
  if (h264Encoder.empty()) {
    const char* chosen = std::getenv("LUNOR_H264_ENCODER");
    if (chosen) h264Encoder = chosen;
  }
  // What CreatePeerConnectionFactory() assembles, with our congestion
  // controller and encoders.
  webrtc::PeerConnectionFactoryDependencies dependencies;
  dependencies.network_thread = context->network.get();
  dependencies.worker_thread = context->worker.get();
  dependencies.signaling_thread = context->signaling.get();
  dependencies.socket_factory = context->network->socketserver();
  dependencies.task_queue_factory = webrtc::CreateDefaultTaskQueueFactory();
  dependencies.call_factory = webrtc::CreateCallFactory();
  dependencies.event_log_factory =
      std::make_unique<webrtc::RtcEventLogFactory>(dependencies.task_queue_factory.get());
  dependencies.trials = std::make_unique<webrtc::FieldTrialBasedConfig>();
  dependencies.network_controller_factory = createGapAwareControllerFactory();
  dependencies.sctp_factory = createDataTransportFactory(context->network.get());
  cricket::MediaEngineDependencies media;
  media.task_queue_factory = dependencies.task_queue_factory.get();
  media.audio_encoder_factory = webrtc::CreateBuiltinAudioEncoderFactory();
  media.audio_decoder_factory = webrtc::CreateBuiltinAudioDecoderFactory();
  media.audio_processing = webrtc::AudioProcessingBuilder().Create();
  media.video_encoder_factory = createVideoEncoderFactory(h264Encoder);
  media.video_decoder_factory = webrtc::CreateBuiltinVideoDecoderFactory();
  media.trials = dependencies.trials.get();
  dependencies.media_engine = cricket::CreateMediaEngine(std::move(media));
  context->factory = webrtc::CreateModularPeerConnectionFactory(std::move(dependencies));
  if (!context->factory) return nullptr;

  webrtc::PeerConnectionFactoryInterface::Options factoryOptions;
  const char* loopback = std::getenv("LUNOR_ICE_LOOPBACK");
  if (options.allowLoopback.value_or(loopback && std::string(loopback) == "1")) {
    factoryOptions.network_ignore_mask &= ~::rtc::ADAPTER_TYPE_LOOPBACK;
  }
  context->factory->SetOptions(factoryOptions);

  return std::make_unique<WebRtcFactory>(std::move(context));
}

}  // namespace lunor::rtc
