// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The library's stats report, read into our ConnectionStats. Include from
// rtc/webrtc/ only.

#include <functional>

#include "api/stats/rtc_stats_collector_callback.h"
#include "api/stats/rtcstats_objects.h"
#include "rtc/webrtc/webrtc_util.h"

namespace lunor::rtc::adapter {

template <typename T>
T valueOr(const webrtc::RTCStatsMember<T>& member, T fallback = T()) {
  return member.is_defined() ? *member : fallback;
}

inline ConnectionStats readStats(const webrtc::RTCStatsReport& report) {
  ConnectionStats stats;
  for (const auto* in : report.GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
    if (valueOr(in->kind) != "video") continue;
    VideoReceiveStats r;
    r.bytesReceived = valueOr(in->bytes_received);
    r.framesReceived = static_cast<uint32_t>(std::max(0, valueOr(in->frames_received)));
    r.framesDecoded = valueOr(in->frames_decoded);
    r.framesDropped = valueOr(in->frames_dropped);
    r.totalDecodeTime = valueOr(in->total_decode_time);
    r.totalProcessingDelay = valueOr(in->total_processing_delay);
    r.jitterBufferDelay = valueOr(in->jitter_buffer_delay);
    r.jitterBufferEmittedCount = valueOr(in->jitter_buffer_emitted_count);
    r.jitterBufferTargetDelay = valueOr(in->jitter_buffer_target_delay);
    r.totalAssemblyTime = valueOr(in->total_assembly_time);
    r.frameWidth = valueOr(in->frame_width);
    r.frameHeight = valueOr(in->frame_height);
    r.framesPerSecond = valueOr(in->frames_per_second);
    r.qpSum = valueOr(in->qp_sum);
    r.packetsReceived = valueOr(in->packets_received);
    r.packetsLost = valueOr(in->packets_lost);
    r.nackCount = valueOr(in->nack_count);
    r.decoder = valueOr(in->decoder_implementation);
    stats.receive = r;
  }
  for (const auto* out : report.GetStatsOfType<webrtc::RTCOutboundRTPStreamStats>()) {
    if (valueOr(out->kind) != "video") continue;
    VideoSendStats s;
    s.bytesSent = valueOr(out->bytes_sent);
    s.framesEncoded = valueOr(out->frames_encoded);
    s.framesSent = valueOr(out->frames_sent);
    s.nackCount = valueOr(out->nack_count);
    s.retransmittedPackets = valueOr(out->retransmitted_packets_sent);
    s.keyFramesEncoded = valueOr(out->key_frames_encoded);
    s.totalEncodeTime = valueOr(out->total_encode_time);
    s.totalPacketSendDelay = valueOr(out->total_packet_send_delay);
    s.packetsSent = valueOr(out->packets_sent);
    s.qpSum = valueOr(out->qp_sum);
    s.frameWidth = valueOr(out->frame_width);
    s.frameHeight = valueOr(out->frame_height);
    s.framesPerSecond = valueOr(out->frames_per_second);
    s.targetBitrate = valueOr(out->target_bitrate);
    s.encoder = valueOr(out->encoder_implementation);
    s.qualityLimitation = valueOr(out->quality_limitation_reason);
    stats.send = s;
  }
  for (const auto* pair : report.GetStatsOfType<webrtc::RTCIceCandidatePairStats>()) {
    if (!valueOr(pair->nominated) || valueOr(pair->state) != "succeeded") continue;
    if (pair->current_round_trip_time.is_defined()) stats.roundTripTime = *pair->current_round_trip_time;
    if (pair->available_outgoing_bitrate.is_defined()) {
      stats.availableOutgoingBitrate = *pair->available_outgoing_bitrate;
    }
  }
  return stats;
}

class StatsCallback : public webrtc::RTCStatsCollectorCallback {
 public:
  explicit StatsCallback(std::function<void(ConnectionStats)> done) : done_(std::move(done)) {}
  void OnStatsDelivered(const ::rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override {
    if (done_) done_(report ? readStats(*report) : ConnectionStats{});
  }

 private:
  std::function<void(ConnectionStats)> done_;
};

}  // namespace lunor::rtc::adapter
