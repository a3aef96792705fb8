// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The adapter's video: the host's screen source, tracks, and the sinks that
// hand decoded frames on as BGRA. Include from rtc/webrtc/ only.

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "api/video/i420_buffer.h"
#include "api/video/video_frame.h"
#include "libyuv/convert.h"
#include "libyuv/convert_argb.h"
#include "libyuv/scale.h"
#include "media/base/adapted_video_track_source.h"
#include "rtc/steady_clock.h"
#include "rtc/webrtc/h264_encoder_adapter.h"
#include "rtc/webrtc/webrtc_util.h"

namespace lunor::rtc::adapter {

// ---------------------------------------------------------------- video ----

class ScreenTrackSource : public ::rtc::AdaptedVideoTrackSource {
 public:
  ScreenTrackSource() : ::rtc::AdaptedVideoTrackSource(/*required_alignment=*/2) {}

  void adapt(int width, int height, int fps) {
    {
      // A picture kept from before belongs to the screen as it was.
      std::lock_guard lock(lastMutex_);
      unsent_.clear();
    }
    // Scale down to the pixel budget while keeping the screen's aspect ratio:
    // cropping a shared screen would hide its edges.
    absl::optional<int> pixels;
    if (width > 0 && height > 0) pixels = width * height;
    absl::optional<int> maxFps;
    if (fps > 0) maxFps = fps;
    video_adapter()->OnOutputFormatRequest(absl::nullopt, pixels, maxFps);
  }

  void push(const VideoFrameView& frame) { pushFrame(frame, std::nullopt); }

  // ifNoPushSince: a kept picture sent again goes only if no newer one came
  // (from the capture thread) since it was taken.
  void pushFrame(const VideoFrameView& frame, std::optional<uint64_t> ifNoPushSince) {
    if (!frame.data || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4) {
      return;
    }
    int outWidth = 0, outHeight = 0, cropWidth = 0, cropHeight = 0, cropX = 0, cropY = 0;
    if (!AdaptFrame(frame.width, frame.height, frame.timestampUs, &outWidth, &outHeight,
                    &cropWidth, &cropHeight, &cropX, &cropY)) {
      keepUnsent(frame, ifNoPushSince);
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
    {
      std::lock_guard lock(lastMutex_);
      if (ifNoPushSince && *ifNoPushSince != pushes_) return;  // a newer picture came meanwhile
      ++pushes_;
      // The same picture again goes as the same buffer: the encoder knows
      // the screen is still by it.
      if (last_ && samePicture(*last_, *buffer)) buffer = last_;
      last_ = buffer;
      lastSize_ = {frame.width, frame.height};
      unsent_.clear();
    }
    OnFrame(webrtc::VideoFrame::Builder()
                .set_video_frame_buffer(buffer)
                .set_timestamp_us(frame.timestampUs)
                .set_rotation(webrtc::kVideoRotation_0)
                .build());
  }

  bool repeat(int64_t timestampUs) {
    ::rtc::scoped_refptr<webrtc::I420Buffer> buffer;
    std::pair<int, int> size;
    std::vector<uint8_t> unsent;
    VideoFrameView unsentView;
    uint64_t pushes = 0;
    {
      std::lock_guard lock(lastMutex_);
      buffer = last_;
      size = lastSize_;
      unsent.swap(unsent_);
      unsentView = unsentView_;
      pushes = pushes_;
    }
    if (!unsent.empty()) {
      // The screen's newest state never went: it goes now, as a new picture.
      unsentView.data = unsent.data();
      unsentView.timestampUs = timestampUs;
      pushFrame(unsentView, pushes);
      return true;
    }
    if (!buffer) return false;
    int outWidth = 0, outHeight = 0, cropWidth = 0, cropHeight = 0, cropX = 0, cropY = 0;
    // Counted against the frame rate like any frame (the adapter may drop it).
    if (!AdaptFrame(size.first, size.second, timestampUs, &outWidth, &outHeight, &cropWidth, &cropHeight, &cropX,
                    &cropY)) {
      return true;
    }
    if (outWidth != buffer->width() || outHeight != buffer->height()) {
      auto scaled = webrtc::I420Buffer::Create(outWidth, outHeight);
      scaled->ScaleFrom(*buffer);
      buffer = scaled;
    }
    OnFrame(webrtc::VideoFrame::Builder()
                .set_video_frame_buffer(buffer)
                .set_timestamp_us(timestampUs)
                .set_rotation(webrtc::kVideoRotation_0)
                .build());
    return true;
  }

  bool is_screencast() const override { return true; }
  absl::optional<bool> needs_denoising() const override { return false; }
  SourceState state() const override { return kLive; }
  bool remote() const override { return false; }

 private:
  static bool samePicture(const webrtc::I420Buffer& a, const webrtc::I420Buffer& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    const auto same = [](const uint8_t* p, int ps, const uint8_t* q, int qs, int w, int h) {
      for (int y = 0; y < h; ++y) {
        if (std::memcmp(p + size_t(y) * size_t(ps), q + size_t(y) * size_t(qs), size_t(w)) != 0) return false;
      }
      return true;
    };
    const int cw = a.ChromaWidth(), ch = a.ChromaHeight();
    return same(a.DataY(), a.StrideY(), b.DataY(), b.StrideY(), a.width(), a.height()) &&
           same(a.DataU(), a.StrideU(), b.DataU(), b.StrideU(), cw, ch) &&
           same(a.DataV(), a.StrideV(), b.DataV(), b.StrideV(), cw, ch);
  }

  // A picture the source did not send (nobody watching yet, as before the
  // track's sender is up, or over the frame rate) is still the screen's
  // newest state: a still screen's repeat must show it, not the one before,
  // and a screen that stays still sends nothing else.
  void keepUnsent(const VideoFrameView& frame, std::optional<uint64_t> ifNoPushSince) {
    const size_t row = static_cast<size_t>(frame.width) * 4;
    std::lock_guard lock(lastMutex_);
    if (ifNoPushSince && *ifNoPushSince != pushes_) return;
    ++pushes_;
    unsent_.resize(row * static_cast<size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y) {
      std::memcpy(unsent_.data() + row * static_cast<size_t>(y), frame.data + static_cast<size_t>(y) * frame.stride,
                  row);
    }
    unsentView_ = {nullptr, frame.width, frame.height, static_cast<int>(row), 0};
  }

  std::mutex lastMutex_;  // push and repeat come from any thread
  ::rtc::scoped_refptr<webrtc::I420Buffer> last_;  // as sent, after any scaling
  std::pair<int, int> lastSize_;                   // the screen's size it came from
  std::vector<uint8_t> unsent_;                    // BGRA, rows packed; empty once sent
  VideoFrameView unsentView_;
  uint64_t pushes_ = 0;                            // pictures sent or kept so far
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
  bool repeatLastFrame(int64_t timestampUs) override { return source_->repeat(timestampUs); }
  void sendKeyFrame() override {
    requestKeyFrames();
    source_->repeat(steadyNowUs());  // on the capturers' clock
  }

  bool wantsRepeats() const override { return refiningStillPicture(); }

  ScreenTrackSource* native() const { return source_.get(); }

 private:
  std::shared_ptr<Context> context_;
  ::rtc::scoped_refptr<ScreenTrackSource> source_;
};

// A picture scaled (when its size is another) and turned into BGRX.
inline void i420ToBgra(const I420FrameView& f, uint8_t* bgra, int stride, int width, int height) {
  if (width == f.width && height == f.height) {
    libyuv::I420ToARGB(f.y, f.strideY, f.u, f.strideU, f.v, f.strideV, bgra, stride, width, height);
    return;
  }
  const ::rtc::scoped_refptr<webrtc::I420Buffer> scaled = webrtc::I420Buffer::Create(width, height);
  libyuv::I420Scale(f.y, f.strideY, f.u, f.strideU, f.v, f.strideV, f.width, f.height, scaled->MutableDataY(),
                    scaled->StrideY(), scaled->MutableDataU(), scaled->StrideU(), scaled->MutableDataV(),
                    scaled->StrideV(), width, height, libyuv::kFilterBilinear);
  libyuv::I420ToARGB(scaled->DataY(), scaled->StrideY(), scaled->DataU(), scaled->StrideU(), scaled->DataV(),
                     scaled->StrideV(), bgra, stride, width, height);
}

// Hands each rendered frame to one of our sinks in the decoder's own I420
// layout: nothing is converted on the way unless the sink asks.
class SinkAdapter final : public ::rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  explicit SinkAdapter(VideoSink* sink) : sink_(sink) {}
  VideoSink* sink() const { return sink_; }

  void OnFrame(const webrtc::VideoFrame& frame) override {
    ::rtc::scoped_refptr<webrtc::I420BufferInterface> i420 = frame.video_frame_buffer()->ToI420();
    if (!i420) return;
    sink_->onFrame(I420FrameView{i420->DataY(), i420->DataU(), i420->DataV(), i420->StrideY(),
                                 i420->StrideU(), i420->StrideV(), i420->width(), i420->height(),
                                 frame.timestamp_us(), &i420ToBgra});
  }

 private:
  VideoSink* sink_;
};

class WebRtcVideoTrack final : public VideoTrack {
 public:
  WebRtcVideoTrack(std::shared_ptr<Context> context,
                   ::rtc::scoped_refptr<webrtc::VideoTrackInterface> track)
      : context_(std::move(context)), track_(std::move(track)) {}

  ~WebRtcVideoTrack() override {
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
    std::unique_ptr<SinkAdapter> adapter;
    {
      std::lock_guard lock(mutex_);
      auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& a) { return a->sink() == sink; });
      if (it == sinks_.end()) return;
      adapter = std::move(*it);
      sinks_.erase(it);
    }
    // Outside our lock: returns once the library no longer delivers to it.
    track_->RemoveSink(adapter.get());
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

}  // namespace lunor::rtc::adapter
