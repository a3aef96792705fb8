// SPDX-License-Identifier: GPL-3.0-or-later
#include "rtc/webrtc/gap_aware_controller.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "api/transport/goog_cc_factory.h"
#include "rtc/delay_floor.h"
#include "rtc/feedback_repair.h"
#include "rtc/link_gap.h"
#include "rtc/webrtc/rtc_log.h"

namespace lunor::rtc::adapter {
namespace {

using webrtc::NetworkControlUpdate;

std::atomic<uint64_t> resumptions{0};

// Enough padding for a packet every few tens of milliseconds.
constexpr webrtc::DataRate kGapPadding = webrtc::DataRate::KilobitsPerSec(300);

// When the link comes back the receiver asks again for everything the gap
// swallowed, and the sender's retransmissions go before new pictures: the
// receiver would rebuild and play the past, picture after picture, before
// the present. For a moment the rate is held low: the retransmissions,
// which the library keeps under the rate, mostly wait, and the encoder's key
// frame (small, coarse; the next pictures sharpen it) goes first; once it is
// decoded the receiver drops what is older and stops asking.
constexpr webrtc::DataRate kResumeRate = webrtc::DataRate::KilobitsPerSec(300);
constexpr webrtc::TimeDelta kMinResumeHold = webrtc::TimeDelta::Millis(250);
constexpr webrtc::TimeDelta kResumeHoldOverRoundTrip = webrtc::TimeDelta::Millis(150);

class GapAwareController final : public webrtc::NetworkControllerInterface {
 public:
  explicit GapAwareController(std::unique_ptr<webrtc::NetworkControllerInterface> inner)
      : inner_(std::move(inner)) {}

  NetworkControlUpdate OnNetworkAvailability(webrtc::NetworkAvailability msg) override {
    return pass(inner_->OnNetworkAvailability(msg), msg.at_time);
  }
  NetworkControlUpdate OnNetworkRouteChange(webrtc::NetworkRouteChange msg) override {
    return pass(inner_->OnNetworkRouteChange(msg), msg.at_time);
  }
  NetworkControlUpdate OnProcessInterval(webrtc::ProcessInterval msg) override {
    const auto change = gap_.onTick(msg.at_time.us());
    return pass(inner_->OnProcessInterval(msg), msg.at_time, change);
  }
  NetworkControlUpdate OnRemoteBitrateReport(webrtc::RemoteBitrateReport msg) override {
    return pass(inner_->OnRemoteBitrateReport(msg), msg.receive_time);
  }
  NetworkControlUpdate OnRoundTripTimeUpdate(webrtc::RoundTripTimeUpdate msg) override {
    if (msg.round_trip_time.IsFinite()) gap_.onRoundTrip(msg.round_trip_time.us());
    return pass(inner_->OnRoundTripTimeUpdate(msg), msg.receive_time);
  }
  NetworkControlUpdate OnSentPacket(webrtc::SentPacket msg) override {
    if (!gap_.inGap()) gap_.onSent(msg.send_time.us());
    return pass(inner_->OnSentPacket(msg), msg.send_time);
  }
  NetworkControlUpdate OnReceivedPacket(webrtc::ReceivedPacket msg) override {
    return pass(inner_->OnReceivedPacket(msg), msg.receive_time);
  }
  NetworkControlUpdate OnStreamsConfig(webrtc::StreamsConfig msg) override {
    return pass(inner_->OnStreamsConfig(msg), msg.at_time);
  }
  NetworkControlUpdate OnTargetRateConstraints(webrtc::TargetRateConstraints msg) override {
    return pass(inner_->OnTargetRateConstraints(msg), msg.at_time);
  }
  NetworkControlUpdate OnTransportLossReport(webrtc::TransportLossReport msg) override {
    const auto change = answered(msg.receive_time);
    // A report over a span that held a gap counts the gap's packets as lost.
    if (gapEndedAt_ && msg.start_time <= *gapEndedAt_) return pass(NetworkControlUpdate(), msg.receive_time, change);
    return pass(inner_->OnTransportLossReport(msg), msg.receive_time, change);
  }
  NetworkControlUpdate OnTransportPacketsFeedback(webrtc::TransportPacketsFeedback msg) override {
    const auto change = answered(msg.feedback_time);
    repair_.beginFeedback();
    for (webrtc::PacketResult& packet : msg.packet_feedbacks) {
      if (!packet.IsReceived()) continue;
      const int64_t arrivalUs = repair_.arrival(packet.sent_packet.sequence_number, packet.receive_time.us());
      packet.receive_time = webrtc::Timestamp::Micros(floor_.arrival(packet.sent_packet.send_time.us(), arrivalUs));
    }
    return pass(inner_->OnTransportPacketsFeedback(msg), msg.feedback_time, change);
  }
  NetworkControlUpdate OnNetworkStateEstimate(webrtc::NetworkStateEstimate msg) override {
    return pass(inner_->OnNetworkStateEstimate(msg), msg.update_time);
  }

 private:
  // The receiver said something about what it got.
  LinkGapDetector::Change answered(webrtc::Timestamp at) {
    const auto change = gap_.onFeedback(at.us());
    if (change == LinkGapDetector::Change::Ended) gapEndedAt_ = at;
    return change;
  }

  NetworkControlUpdate pass(NetworkControlUpdate update, webrtc::Timestamp now,
                            LinkGapDetector::Change change = LinkGapDetector::Change::None) {
    if (update.target_rate) lastTarget_ = update.target_rate;
    if (update.pacer_config) lastPacer_ = update.pacer_config;

    if (change == LinkGapDetector::Change::Started) {
      resumingUntil_.reset();
      rtcLine("[Link] ⏸️ no answer from the receiver: pictures paused\n");
    } else if (change == LinkGapDetector::Change::Retry) {
      if (!update.target_rate) update.target_rate = lastTarget_;
      if (!update.pacer_config) update.pacer_config = lastPacer_;
      resumingUntil_ = now + resumeHold();
      resumptions.fetch_add(1, std::memory_order_relaxed);
      rtcLine("[Link] 🔁 still no answer: sending again\n");
    } else if (change == LinkGapDetector::Change::Ended) {
      // What the controller last wanted, as the gap had hidden it.
      if (!update.target_rate) update.target_rate = lastTarget_;
      if (!update.pacer_config) update.pacer_config = lastPacer_;
      resumingUntil_ = now + resumeHold();
      resumptions.fetch_add(1, std::memory_order_relaxed);
      rtcLine("[Link] ▶️ the receiver answers again after %lld ms: a fresh picture\n",
              static_cast<long long>(gap_.lastGapUs() / 1000));
    } else if (resumingUntil_ && now.IsFinite() && now >= *resumingUntil_) {
      resumingUntil_.reset();
      if (!update.target_rate) update.target_rate = lastTarget_;
    }

    if (gap_.inGap()) {
      if (lastTarget_ && (update.target_rate || change == LinkGapDetector::Change::Started)) {
        update.target_rate = capped(*lastTarget_, webrtc::DataRate::Zero(), now);
      }
      if (lastPacer_ && (update.pacer_config || change == LinkGapDetector::Change::Started)) {
        webrtc::PacerConfig padded = *lastPacer_;
        padded.at_time = now;
        padded.pad_window = kGapPadding * padded.time_window;
        update.pacer_config = padded;
      }
    } else if (resumingUntil_ && update.target_rate) {
      update.target_rate = capped(*update.target_rate, kResumeRate, now);
    }
    return update;
  }

  static webrtc::TargetTransferRate capped(webrtc::TargetTransferRate target, webrtc::DataRate cap,
                                           webrtc::Timestamp now) {
    if (now.IsFinite()) target.at_time = now;
    target.target_rate = std::min(target.target_rate, cap);
    target.stable_target_rate = std::min(target.stable_target_rate, cap);
    return target;
  }
  // Until the key frame has reached the receiver and been decoded.
  webrtc::TimeDelta resumeHold() const {
    return std::max(kMinResumeHold, webrtc::TimeDelta::Micros(gap_.roundTripUs()) + kResumeHoldOverRoundTrip);
  }

  std::unique_ptr<webrtc::NetworkControllerInterface> inner_;
  LinkGapDetector gap_;
  FeedbackRepair repair_;
  DelayFloor floor_;
  absl::optional<webrtc::TargetTransferRate> lastTarget_;
  absl::optional<webrtc::PacerConfig> lastPacer_;
  absl::optional<webrtc::Timestamp> gapEndedAt_;
  absl::optional<webrtc::Timestamp> resumingUntil_;
};

class GapAwareControllerFactory final : public webrtc::NetworkControllerFactoryInterface {
 public:
  std::unique_ptr<webrtc::NetworkControllerInterface> Create(webrtc::NetworkControllerConfig config) override {
    return std::make_unique<GapAwareController>(inner_.Create(std::move(config)));
  }
  webrtc::TimeDelta GetProcessInterval() const override { return inner_.GetProcessInterval(); }

 private:
  webrtc::GoogCcNetworkControllerFactory inner_{webrtc::GoogCcFactoryConfig()};
};

}  // namespace

uint64_t linkResumptions() { return resumptions.load(std::memory_order_relaxed); }

std::unique_ptr<webrtc::NetworkControllerFactoryInterface> createGapAwareControllerFactory() {
  return std::make_unique<GapAwareControllerFactory>();
}

}  // namespace lunor::rtc::adapter
