// SPDX-License-Identifier: GPL-3.0-or-later
#include "rtc/webrtc/h264_encoder_adapter.h"

#include <algorithm>
#include <atomic>

#include "absl/strings/match.h"
#include "api/video/i420_buffer.h"
#include "api/video/video_codec_type.h"
#include "api/video_codecs/builtin_video_encoder_factory.h"
#include "api/video_codecs/video_encoder.h"
#include "common_video/h264/h264_bitstream_parser.h"
#include "modules/video_coding/include/video_codec_interface.h"
#include "modules/video_coding/include/video_error_codes.h"
#include "rtc_base/time_utils.h"
#include "rtc/h264/h264_engine.h"
#include "rtc/playout_room.h"
#include "rtc/h264/size_ladder.h"
#include "rtc/h264/still_sharpener.h"
#include "rtc/webrtc/gap_aware_controller.h"
#include "rtc/webrtc/rtc_log.h"

namespace lunor::rtc::adapter {
namespace {

constexpr char kDefaultEncoder[] = "x264";

std::atomic<uint64_t> keyFrameRequests{0};
std::atomic<bool> refiningStill{false};

// One of our H264 engines as the library's encoder: it is told the link's
// rate and asked for key frames, and hands each picture's stream to the
// packetiser (Annex B, which the library splits into NAL units itself).
class H264EncoderAdapter final : public webrtc::VideoEncoder {
 public:
  H264EncoderAdapter(std::string engine, const webrtc::SdpVideoFormat& format) : engineName_(std::move(engine)) {
    const auto mode = format.parameters.find("packetization-mode");
    packetization_ = mode != format.parameters.end() && mode->second == "1"
                         ? webrtc::H264PacketizationMode::NonInterleaved
                         : webrtc::H264PacketizationMode::SingleNalUnit;
  }

  int32_t InitEncode(const webrtc::VideoCodec* codec, const Settings& settings) override {
    if (!codec || codec->codecType != webrtc::kVideoCodecH264 || codec->width < 2 || codec->height < 2 ||
        codec->maxFramerate == 0) {
      return WEBRTC_VIDEO_CODEC_ERR_PARAMETER;
    }
    engine_ = createH264Engine(engineName_);
    if (!engine_) return WEBRTC_VIDEO_CODEC_ERROR;
    config_.width = codec->width;
    config_.height = codec->height;
    config_.fps = codec->maxFramerate;
    config_.bitrateBps = int(std::max(codec->startBitrate, codec->minBitrate) * 1000);
    config_.screenContent = codec->mode == webrtc::VideoCodecMode::kScreensharing;
    config_.qpMax = codec->qpMax > 0 ? int(codec->qpMax) : 51;
    config_.maxNalBytes =
        packetization_ == webrtc::H264PacketizationMode::SingleNalUnit ? int(settings.max_payload_size) : 0;
    std::string error;
    if (!engine_->open(config_, &error)) {
      rtcLine("[Encoder] ❌ %s\n", error.c_str());
      engine_.reset();
      return WEBRTC_VIDEO_CODEC_ERROR;
    }
    keyFrameDue_ = true;
    seenResumptions_ = linkResumptions();
    seenKeyRequests_ = keyFrameRequests.load(std::memory_order_relaxed);
    rtcLine("[Encoder] %s %dx%d @%g fps, %s\n", engine_->name().c_str(), config_.width, config_.height,
            config_.fps, config_.screenContent ? "screen content" : "camera content");
    return WEBRTC_VIDEO_CODEC_OK;
  }

  int32_t RegisterEncodeCompleteCallback(webrtc::EncodedImageCallback* callback) override {
    callback_ = callback;
    return WEBRTC_VIDEO_CODEC_OK;
  }

  int32_t Release() override {
    engine_.reset();
    refiningStill.store(false, std::memory_order_relaxed);
    return WEBRTC_VIDEO_CODEC_OK;
  }

  void SetRates(const RateControlParameters& parameters) override {
    const int bps = int(parameters.bitrate.get_sum_bps());
    paused_ = bps == 0;
    if (!engine_ || paused_) return;
    config_.bitrateBps = bps;
    if (parameters.framerate_fps > 0) config_.fps = parameters.framerate_fps;
    engine_->setRates(bps, config_.fps);
  }

  void OnPacketLossRateUpdate(float packetLossRate) override { room_.lossReported(packetLossRate, steadyNowUs()); }

  int32_t Encode(const webrtc::VideoFrame& frame, const std::vector<webrtc::VideoFrameType>* types) override {
    if (!engine_ || !callback_) return WEBRTC_VIDEO_CODEC_UNINITIALIZED;
    if (paused_) return WEBRTC_VIDEO_CODEC_OK;  // nothing may be sent now
    if (const uint64_t resumed = linkResumptions(); resumed != seenResumptions_) {
      seenResumptions_ = resumed;
      keyFrameDue_ = true;
    }
    if (const uint64_t asked = keyFrameRequests.load(std::memory_order_relaxed); asked != seenKeyRequests_) {
      seenKeyRequests_ = asked;
      keyFrameDue_ = true;
    }
    if (types) {
      keyFrameDue_ = keyFrameDue_ || std::find(types->begin(), types->end(),
                                               webrtc::VideoFrameType::kVideoFrameKey) != types->end();
    }
    const ::rtc::scoped_refptr<webrtc::I420BufferInterface> buffer = frame.video_frame_buffer()->ToI420();
    if (!buffer) return WEBRTC_VIDEO_CODEC_ERROR;
    // The source hands on the very buffer again for a picture that did not
    // change: the screen is still.
    const bool repeat = buffer.get() == lastInput_.get();
    lastInput_ = buffer;
    const int64_t nowUs = ::rtc::TimeMicros();
    if (!repeat) changedUs_ = nowUs;
    const int step = ladder_.next(buffer->width(), buffer->height(), config_.bitrateBps, nowUs, nowUs - changedUs_);
    const auto [width, height] = SizeLadder::scaled(buffer->width(), buffer->height(), step);
    if (width != config_.width || height != config_.height) {
      // Another size than the stream's: start over at it (the viewer
      // stretches every picture over the same ground).
      if (step != codedStep_) {
        rtcLine("[Encoder] picture %dx%d of %dx%d at %d kbit/s\n", width, height, buffer->width(), buffer->height(),
                config_.bitrateBps / 1000);
        codedStep_ = step;
      }
      config_.width = width;
      config_.height = height;
      scaled_ = nullptr;
      std::string error;
      if (!engine_->open(config_, &error)) {
        rtcLine("[Encoder] ❌ %s\n", error.c_str());
        config_.width = config_.height = 0;  // the next picture tries again
        return WEBRTC_VIDEO_CODEC_ERROR;
      }
      keyFrameDue_ = true;
    }
    if (width != buffer->width() || height != buffer->height()) {
      // A repeat is scaled once.
      if (!repeat || !scaled_) {
        auto smaller = webrtc::I420Buffer::Create(width, height);
        smaller->ScaleFrom(*buffer);
        scaled_ = smaller;
      }
    } else {
      scaled_ = buffer;
    }
    const StillSharpener::Plan plan = sharpener_.next(repeat, keyFrameDue_, nowUs, config_.bitrateBps, config_.height);
    refiningStill.store(sharpener_.wantsRepeats(), std::memory_order_relaxed);
    H264Picture picture;
    StillSharpener::apply(plan, picture);
    picture.y = scaled_->DataY();
    picture.u = scaled_->DataU();
    picture.v = scaled_->DataV();
    picture.strideY = scaled_->StrideY();
    picture.strideU = scaled_->StrideU();
    picture.strideV = scaled_->StrideV();
    picture.width = scaled_->width();
    picture.height = scaled_->height();
    picture.timestampUs = frame.timestamp_us();
    picture.keyFrame = keyFrameDue_;
    H264Output out;
    if (!engine_->encode(picture, out)) return WEBRTC_VIDEO_CODEC_ERROR;
    if (out.annexB.empty()) return WEBRTC_VIDEO_CODEC_OK;  // skipped to keep to the rate
    if (out.keyFrame) {
      keyFrameDue_ = false;
      rtcLine("[Encoder] key frame: %zu bytes at %d kbit/s\n", out.annexB.size(), config_.bitrateBps / 1000);
    }
    sharpener_.coded(plan, out.keyFrame, out.annexB.size(), nowUs, config_.bitrateBps);
    if (picture.refineQp > 0) {
      const int rows = H264Picture::macroblockRows(config_.height);
      rtcLine("[Encoder] still picture sharpened: %zu bytes, QP %d, rows %d-%d of %d, at %d kbit/s\n",
              out.annexB.size(), out.qp, plan.from, std::min(plan.to, rows), rows, config_.bitrateBps / 1000);
    }

    webrtc::EncodedImage image;
    image.SetEncodedData(webrtc::EncodedImageBuffer::Create(out.annexB.data(), out.annexB.size()));
    image._encodedWidth = uint32_t(picture.width);
    image._encodedHeight = uint32_t(picture.height);
    image.SetTimestamp(frame.timestamp());
    image.ntp_time_ms_ = frame.ntp_time_ms();
    image.capture_time_ms_ = frame.render_time_ms();
    image.rotation_ = frame.rotation();
    image.SetColorSpace(frame.color_space());
    image.content_type_ =
        config_.screenContent ? webrtc::VideoContentType::SCREENSHARE : webrtc::VideoContentType::UNSPECIFIED;
    image.timing_.flags = webrtc::VideoSendTiming::kInvalid;
    image.playout_delay_ = playoutDelay();
    image._frameType = out.keyFrame ? webrtc::VideoFrameType::kVideoFrameKey : webrtc::VideoFrameType::kVideoFrameDelta;
    if (out.qp >= 0) {
      image.qp_ = out.qp;
    } else {
      parser_.ParseBitstream(image);
      image.qp_ = parser_.GetLastSliceQp().value_or(-1);
    }

    if (!repeat && !out.keyFrame && image.qp_ >= 0) ladder_.coded(image.qp_, nowUs);

    webrtc::CodecSpecificInfo info;
    info.codecType = webrtc::kVideoCodecH264;
    info.codecSpecific.H264.packetization_mode = packetization_;
    info.codecSpecific.H264.temporal_idx = webrtc::kNoTemporalIdx;
    info.codecSpecific.H264.base_layer_sync = false;
    info.codecSpecific.H264.idr_frame = out.keyFrame;
    const auto result = callback_->OnEncodedImage(image, &info);
    return result.error == webrtc::EncodedImageCallback::Result::OK ? WEBRTC_VIDEO_CODEC_OK
                                                                    : WEBRTC_VIDEO_CODEC_ERROR;
  }

  // The receiver's room for this picture, said when it comes and goes.
  webrtc::VideoPlayoutDelay playoutDelay() {
    const PlayoutRoom::Delay delay = room_.delay(steadyNowUs(), lastViewerInputUs.load(std::memory_order_relaxed));
    const bool room = delay != PlayoutRoom::kNone;
    if (room != roomGiven_) {
      rtcLine("[Encoder] receiver's playout room %d to %d ms\n", delay.minMs, delay.maxMs);
      roomGiven_ = room;
    }
    return webrtc::VideoPlayoutDelay(delay.minMs, delay.maxMs);
  }

  EncoderInfo GetEncoderInfo() const override {
    EncoderInfo info;
    info.supports_native_handle = false;
    info.implementation_name = engine_ ? engine_->name() : engineName_;
    // The library's own thresholds for H264.
    info.scaling_settings = ScalingSettings(24, 37);
    info.is_hardware_accelerated = false;
    info.supports_simulcast = false;
    info.requested_resolution_alignment = 2;
    info.preferred_pixel_formats = {webrtc::VideoFrameBuffer::Type::kI420};
    return info;
  }

 private:
  std::string engineName_;
  webrtc::H264PacketizationMode packetization_;
  std::unique_ptr<H264Engine> engine_;
  H264EncoderConfig config_;
  webrtc::EncodedImageCallback* callback_ = nullptr;
  webrtc::H264BitstreamParser parser_;
  bool paused_ = false;
  uint64_t seenResumptions_ = 0;
  uint64_t seenKeyRequests_ = 0;
  bool keyFrameDue_ = true;
  ::rtc::scoped_refptr<webrtc::I420BufferInterface> lastInput_;
  ::rtc::scoped_refptr<webrtc::I420BufferInterface> scaled_;  // what is coded of it
  int codedStep_ = 0;  // the ladder's step the stream is coded at
  int64_t changedUs_ = 0;  // when the last changed picture came
  StillSharpener sharpener_;
  SizeLadder ladder_;
  PlayoutRoom room_;
  bool roomGiven_ = false;
};

class EncoderFactory final : public webrtc::VideoEncoderFactory {
 public:
  explicit EncoderFactory(std::string engine)
      : engine_(std::move(engine)), library_(webrtc::CreateBuiltinVideoEncoderFactory()) {}

  std::vector<webrtc::SdpVideoFormat> GetSupportedFormats() const override { return library_->GetSupportedFormats(); }

  std::unique_ptr<webrtc::VideoEncoder> CreateVideoEncoder(const webrtc::SdpVideoFormat& format) override {
    if (engine_ != "library" && ::absl::EqualsIgnoreCase(format.name, "H264")) {
      return std::make_unique<H264EncoderAdapter>(engine_, format);
    }
    return library_->CreateVideoEncoder(format);
  }

 private:
  std::string engine_;
  std::unique_ptr<webrtc::VideoEncoderFactory> library_;
};

}  // namespace

void requestKeyFrames() { keyFrameRequests.fetch_add(1, std::memory_order_relaxed); }

bool refiningStillPicture() { return refiningStill.load(std::memory_order_relaxed); }

std::unique_ptr<webrtc::VideoEncoderFactory> createVideoEncoderFactory(const std::string& encoder) {
  std::string engine = encoder.empty() ? kDefaultEncoder : encoder;
  if (engine != "library" && !createH264Engine(engine)) {
    rtcLine("[Encoder] ⚠️ unknown H264 encoder %s, using %s\n", engine.c_str(), kDefaultEncoder);
    engine = kDefaultEncoder;
  }
  return std::make_unique<EncoderFactory>(std::move(engine));
}

}  // namespace lunor::rtc::adapter
