// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/pipewire_stream.h"

#include <unistd.h>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include "host/host_log.h"
#include "rtc/webrtc/pipewire_library.h"
#include "system/console_log.h"

namespace lunor {
namespace {

// The process-wide PipeWire library, loaded and set up once; false when
// there is none.
bool initPipeWire() {
  static const bool ready = [] {
    if (!rtc::loadPipeWireLibrary()) return false;
    pw_init(nullptr, nullptr);
    return true;
  }();
  return ready;
}

// What we take: 32-bit pixels the encoder reads as they are, at any size
// the compositor offers, no more than maxFps frames a second (the
// compositor skips the others, and still sends the screen's last state).
const spa_pod* buildFormat(spa_pod_builder& builder, int maxFps, QSize fixedSize) {
  if (fixedSize.isValid()) {
    const spa_rectangle size{uint32_t(fixedSize.width()), uint32_t(fixedSize.height())};
    const spa_fraction anyRate{0, 1}, cap{uint32_t(std::max(1, maxFps)), 1}, lowest{1, 1};
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&anyRate),
        SPA_FORMAT_VIDEO_maxFramerate, SPA_POD_CHOICE_RANGE_Fraction(&cap, &lowest, &cap)));
  }
  const spa_rectangle defaultSize{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
  const spa_fraction anyRate{0, 1}, cap{uint32_t(std::max(1, maxFps)), 1}, lowest{1, 1};
  return static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&anyRate), SPA_FORMAT_VIDEO_maxFramerate,
      SPA_POD_CHOICE_RANGE_Fraction(&cap, &lowest, &cap)));
}

}  // namespace

std::optional<rtc::VideoFrameView> planePicture(const void* data, uint32_t maxSize, uint32_t chunkOffset,
                                                uint32_t chunkSize, int32_t chunkStride, int width, int height) {
  if (!data || width <= 0 || height <= 0) return std::nullopt;
  const int64_t row = int64_t(width) * 4;
  // No stride said: rows one after the other.
  const int64_t stride = chunkStride == 0 ? row : chunkStride;
  if (stride < row || stride > INT32_MAX) return std::nullopt;
  const int64_t needed = stride * (height - 1) + row;  // the last row need not be padded
  const int64_t offset = chunkOffset;
  if (offset > maxSize || needed > int64_t(maxSize) - offset || needed > int64_t(chunkSize)) return std::nullopt;
  return rtc::VideoFrameView{static_cast<const uint8_t*>(data) + offset, width, height, int(stride), 0};
}

struct PipeWireStream::Impl {
  PipeWireStream& owner;
  FrameHandler onFrame;
  ErrorHandler onError;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook streamListener{};
  spa_hook coreListener{};
  spa_video_info_raw format{};
  bool haveFormat = false;
  bool failed = false;
  int maxFps = 0;  // what the compositor was asked for
  QSize fixedSize;  // the size asked for, when one is

  explicit Impl(PipeWireStream& o) : owner(o) {}

  // ---- PipeWire's thread --------------------------------------------------

  static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* self = static_cast<Impl*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
      self->fail(QStringLiteral("flux PipeWire ") +
                 QString::fromUtf8(state == PW_STREAM_STATE_ERROR && error ? error : "déconnecté"));
    }
  }

  static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<Impl*>(data);
    if (!param || id != SPA_PARAM_Format) return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
      return;
    }
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    self->format = info;
    self->haveFormat = true;
    consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] PipeWire : %1x%2, format %3")
                              .arg(info.size.width)
                              .arg(info.size.height)
                              .arg(info.format));
    // Buffers we can read where they are: mapped memory or a memfd (mapped
    // by PipeWire for us).
    uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    pw_stream_update_params(self->stream, params, 1);
  }

  static void onProcess(void* data) {
    auto* self = static_cast<Impl*>(data);
    // Only the newest buffer counts: older ones go back at once.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream)) {
      if (newest) pw_stream_queue_buffer(self->stream, newest);
      newest = next;
    }
    if (!newest) return;
    const spa_buffer* buffer = newest->buffer;
    if (self->haveFormat && buffer->n_datas > 0) {
      const spa_data& plane = buffer->datas[0];
      const bool hasPicture = plane.data && plane.chunk && plane.chunk->size > 0 &&
                              !(plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED);
      if (hasPicture && self->onFrame) {
        const auto picture =
            planePicture(plane.data, plane.maxsize, plane.chunk->offset, plane.chunk->size, plane.chunk->stride,
                         static_cast<int>(self->format.size.width), static_cast<int>(self->format.size.height));
        if (picture) {
          self->onFrame(*picture);
          ++self->owner.frames_;
        }
      }
    }
    pw_stream_queue_buffer(self->stream, newest);
  }

  static void onCoreError(void* data, uint32_t id, int, int, const char* message) {
    auto* self = static_cast<Impl*>(data);
    if (id == PW_ID_CORE) self->fail(QStringLiteral("PipeWire : ") + QString::fromUtf8(message ? message : "erreur"));
  }

  void fail(const QString& why) {
    if (failed) return;
    failed = true;
    if (onError) onError(why);
  }

  static const pw_stream_events& streamEvents() {
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = &onStateChanged;
      e.param_changed = &onParamChanged;
      e.process = &onProcess;
      return e;
    }();
    return events;
  }

  static const pw_core_events& coreEvents() {
    static const pw_core_events events = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = &onCoreError;
      return e;
    }();
    return events;
  }
};

PipeWireStream::PipeWireStream() = default;

PipeWireStream::~PipeWireStream() { stop(); }

bool PipeWireStream::start(uint32_t node, int remoteFd, int maxFps, FrameHandler onFrame, ErrorHandler onError,
                           QString* why, QSize fixedSize) {
  stop();
  // The portal's connection is ours to close until PipeWire takes it.
  const auto giveUp = [remoteFd] {
    if (remoteFd >= 0) ::close(remoteFd);
    return false;
  };
  if (!initPipeWire()) {
    if (why) *why = QStringLiteral("PipeWire absent (libpipewire-0.3)");
    return giveUp();
  }
  frames_ = 0;
  impl_ = std::make_unique<Impl>(*this);
  Impl& s = *impl_;
  s.onFrame = std::move(onFrame);
  s.onError = std::move(onError);
  s.loop = pw_thread_loop_new("lunor-pipewire", nullptr);
  if (!s.loop) {
    if (why) *why = QStringLiteral("PipeWire : boucle impossible");
    impl_.reset();
    return giveUp();
  }
  s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
  if (!s.context || pw_thread_loop_start(s.loop) < 0) {
    if (why) *why = QStringLiteral("PipeWire : contexte impossible");
    stop();
    return giveUp();
  }
  pw_thread_loop_lock(s.loop);
  s.core = remoteFd >= 0 ? pw_context_connect_fd(s.context, remoteFd, nullptr, 0)
                         : pw_context_connect(s.context, nullptr, 0);
  if (!s.core) {
    pw_thread_loop_unlock(s.loop);
    if (why) *why = QStringLiteral("PipeWire injoignable");
    stop();
    return false;
  }
  pw_core_add_listener(s.core, &s.coreListener, &Impl::coreEvents(), &s);
  s.stream = pw_stream_new(s.core, "lunor-capture",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  pw_stream_add_listener(s.stream, &s.streamListener, &Impl::streamEvents(), &s);

  uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[1] = {buildFormat(builder, maxFps, fixedSize)};
  s.maxFps = maxFps;
  s.fixedSize = fixedSize;
  const int connected = pw_stream_connect(
      s.stream, PW_DIRECTION_INPUT, node,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  pw_thread_loop_unlock(s.loop);
  if (connected < 0) {
    if (why) *why = QStringLiteral("PipeWire : nœud %1 injoignable").arg(node);
    stop();
    return false;
  }
  return true;
}

void PipeWireStream::setMaxFrameRate(int fps) {
  if (!impl_ || !impl_->stream) return;
  pw_thread_loop_lock(impl_->loop);
  // Each new rate is a new negotiation with the compositor: only when it
  // changes.
  if (fps == impl_->maxFps) {
    pw_thread_loop_unlock(impl_->loop);
    return;
  }
  impl_->maxFps = fps;
  uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[1] = {buildFormat(builder, fps, impl_->fixedSize)};
  pw_stream_update_params(impl_->stream, params, 1);
  pw_thread_loop_unlock(impl_->loop);
}

void PipeWireStream::stop() {
  if (!impl_) return;
  Impl& s = *impl_;
  if (s.loop) pw_thread_loop_lock(s.loop);
  // No handler after this: the stream and the connection go first.
  s.onFrame = nullptr;
  s.onError = nullptr;
  if (s.stream) {
    spa_hook_remove(&s.streamListener);
    pw_stream_disconnect(s.stream);
    pw_stream_destroy(s.stream);
    s.stream = nullptr;
  }
  if (s.core) {
    spa_hook_remove(&s.coreListener);
    pw_core_disconnect(s.core);
    s.core = nullptr;
  }
  if (s.loop) pw_thread_loop_unlock(s.loop);
  if (s.loop) pw_thread_loop_stop(s.loop);
  if (s.context) pw_context_destroy(s.context);
  if (s.loop) pw_thread_loop_destroy(s.loop);
  impl_.reset();
}

}  // namespace lunor
