// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <x264.h>
}

#include "rtc/h264/h264_engine.h"

namespace lunor::rtc {
namespace {

// A picture as I420, the size x264 codes.
struct CodedPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> plane[3];
  bool valid = false;

  void resize(int w, int h) {
    width = w, height = h, valid = false;
    plane[0].assign(size_t(w) * size_t(h), 0);
    plane[1].assign(size_t(w / 2) * size_t(h / 2), 128);
    plane[2].assign(size_t(w / 2) * size_t(h / 2), 128);
  }

  // The source's rows [top, bottom) (even).
  void copyRows(const H264Picture& picture, int top, int bottom) {
    const uint8_t* source[3] = {picture.y, picture.u, picture.v};
    const int stride[3] = {picture.strideY, picture.strideU, picture.strideV};
    for (int i = 0; i < 3; ++i) {
      const int shift = i == 0 ? 0 : 1;
      const int w = width >> shift;
      for (int r = top >> shift; r < bottom >> shift; ++r) {
        std::memcpy(&plane[i][size_t(r) * size_t(w)], source[i] + ptrdiff_t(r) * stride[i], size_t(w));
      }
    }
  }

  // The encoder's reconstruction of the picture it just coded (NV12): what
  // the viewer has.
  bool take(const x264_image_t& img) {
    if (img.i_csp != X264_CSP_NV12 || img.i_plane != 2) return false;
    for (int r = 0; r < height; ++r) {
      std::memcpy(&plane[0][size_t(r) * size_t(width)], img.plane[0] + ptrdiff_t(r) * img.i_stride[0], size_t(width));
    }
    const int cw = width / 2;
    for (int r = 0; r < height / 2; ++r) {
      const uint8_t* uv = img.plane[1] + ptrdiff_t(r) * img.i_stride[1];
      uint8_t* u = &plane[1][size_t(r) * size_t(cw)];
      uint8_t* v = &plane[2][size_t(r) * size_t(cw)];
      for (int c = 0; c < cw; ++c) {
        u[c] = uv[2 * c];
        v[c] = uv[2 * c + 1];
      }
    }
    return true;
  }

  void into(x264_image_t& img) {
    for (int i = 0; i < 3; ++i) {
      img.plane[i] = plane[i].data();
      img.i_stride[i] = i == 0 ? width : width / 2;
    }
  }
};

// x264 at its fastest preset with no latency of its own, baseline profile
// (what WebRTC's H264 offers), aiming at a constant quality (CRF) and held
// under the link's rate by its VBV: an easy screen costs few bits, a busy
// one no more than the link carries.
class X264Engine final : public H264Engine {
 public:
  // The buffer: 60 ms of the link. No picture is larger than that, so the
  // pacer (2.5 times the estimate) sends any of them within about 25 ms
  // and the picture after it never waits: a page scrolled further than the
  // motion search reaches, or a key frame asked for after a loss, comes
  // coarser instead, and the pictures after it sharpen it. With half a
  // second, such a picture (85 KB at 6 Mbit/s) took 45 ms to leave and held
  // the next ones.
  static constexpr int kBufferMs = 60;
  // The stream's first picture, which nothing waits behind yet, may take
  // half a second of the link: the viewer's first sight is readable.
  static constexpr int kFirstBufferMs = 500;
  // A still picture's pass, whose size its quantiser (and its band of rows)
  // sets: 8 s of the link.
  static constexpr int kOpenBufferMs = 8000;

  ~X264Engine() override { close(); }

  bool open(const H264EncoderConfig& config, std::string* error) override {
    close();
    config_ = config;
    x264_param_t& p = param_;
    if (x264_param_default_preset(&p, config.preset.c_str(), "zerolatency") < 0) {
      if (error) *error = "x264: unknown preset " + config.preset;
      return false;
    }
    p.i_log_level = X264_LOG_ERROR;
    p.i_width = config.width;
    p.i_height = config.height;
    shown_.resize(config.width, config.height);
    p.i_csp = X264_CSP_I420;
    p.i_fps_num = uint32_t(std::max(1.0, config.fps) * 1000);
    p.i_fps_den = 1000;
    // Pictures come when the screen changes, but x264 holds one picture back
    // to learn its duration from the next one's time when told so; its rate
    // control counts each as a frame interval instead (a screen that changes
    // less often then spends less than the link allows, never more).
    p.b_vfr_input = 0;
    p.i_threads = config.threads;
    p.b_sliced_threads = 1;
    if (config.slices > 0) p.i_slice_count = config.slices;
    if (config.maxNalBytes > 0) p.i_slice_max_size = config.maxNalBytes;
    p.i_keyint_max = X264_KEYINT_MAX_INFINITE;  // key frames when asked for
    p.b_repeat_headers = 1;                     // SPS and PPS before each one
    p.b_annexb = 1;
    p.vui.i_colorprim = kVuiPrimariesBt709;
    p.vui.i_transfer = kVuiTransferSrgb;
    p.vui.i_colmatrix = kVuiMatrixBt601;
    p.vui.b_fullrange = 0;
    p.rc.i_rc_method = config.crf > 0 ? X264_RC_CRF : X264_RC_ABR;
    p.rc.f_rf_constant = float(config.crf);
    p.rc.i_qp_max = std::clamp(config.qpMax, 1, 51);
    setVbv(config.bitrateBps, config.fps);
    if (x264_param_apply_profile(&p, "baseline") < 0) {
      if (error) *error = "x264: no baseline profile";
      return false;
    }
    encoder_ = x264_encoder_open(&p);
    if (!encoder_) {
      if (error) *error = "x264: the encoder did not open";
      return false;
    }
    return true;
  }

  void setRates(int bitrateBps, double fps) override {
    if (!encoder_) return;
    setVbv(bitrateBps, fps);
    bufferOpen_ = false;
    x264_encoder_reconfig(encoder_, &param_);
  }

  bool encode(const H264Picture& picture, H264Output& out) override {
    out = {};
    if (!encoder_ || picture.width != config_.width || picture.height != config_.height) return false;
    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.plane[0] = const_cast<uint8_t*>(picture.y);
    in.img.plane[1] = const_cast<uint8_t*>(picture.u);
    in.img.plane[2] = const_cast<uint8_t*>(picture.v);
    in.img.i_stride[0] = picture.strideY;
    in.img.i_stride[1] = picture.strideU;
    in.img.i_stride[2] = picture.strideV;
    const int rows = H264Picture::macroblockRows(config_.height);
    const bool band = picture.bufferOpen && !picture.keyFrame && (picture.refineFrom > 0 || picture.refineTo < rows);
    if (band && shown_.valid) {
      // A pass over a band of rows (or none, between two): the others as
      // the viewer has them, so that nothing is left to code there and the
      // encoder skips them. (The kept picture is the input: the encoder
      // copies it, and its reconstruction replaces it after.)
      const int top = std::clamp(picture.refineFrom, 0, rows) * 16;
      const int bottom = std::min(config_.height, std::clamp(picture.refineTo, 0, rows) * 16);
      if (bottom > top) shown_.copyRows(picture, top, bottom);
      shown_.into(in.img);
    }
    in.i_pts = ++lastPts_;
    in.i_type = picture.keyFrame ? X264_TYPE_IDR : X264_TYPE_AUTO;
    // A still picture's pass: the quantiser it is given (the rate control
    // counts its bits all the same, so that what follows pays for them).
    if (picture.refineQp > 0 && !picture.keyFrame) {
      in.i_qpplus1 = std::clamp(picture.refineQp, 1, 51) + 1;
    }
    if (picture.bufferOpen != bufferOpen_ || (bufferOpen_ && band != bandSkips_)) {
      bufferOpen_ = picture.bufferOpen;
      bandSkips_ = band;
      if (bufferOpen_) {
        x264_param_t open = param_;
        // The buffer refills by a frame interval's worth per picture, what-
        // ever the time the link stood idle, and its rows' forecast, made
        // from the coarse picture before, would raise the pass's quantiser
        // back: wider for the pass, whose size its quantiser keeps instead.
        open.rc.i_vbv_max_bitrate = param_.rc.i_vbv_max_bitrate * 16;
        open.rc.i_vbv_buffer_size = bufferKbit(param_.rc.i_vbv_max_bitrate, kOpenBufferMs);
        // What is left to mend is fine and scattered (text's edges): x264
        // would otherwise drop it as not worth coding and skip the block.
        // But a band's pass keeps x264's quick test for blocks that match
        // the picture before: without it, its search codes most blocks
        // outside the band anew, at no gain (7 KB a picture at 1080p, twice
        // the band itself), and the repeats between two bands as much.
        open.analyse.b_dct_decimate = 0;
        open.analyse.b_fast_pskip = band ? 1 : 0;
        x264_encoder_reconfig(encoder_, &open);
      } else {
        x264_encoder_reconfig(encoder_, &param_);
      }
    }
    x264_nal_t* nals = nullptr;
    int count = 0;
    x264_picture_t made;
    const int bytes = x264_encoder_encode(encoder_, &nals, &count, &in, &made);
    if (bytes < 0) return false;
    // While the screen is still, what the viewer has: the next pass's rows
    // outside its band.
    shown_.valid = bytes > 0 && picture.bufferOpen && shown_.take(made.img);
    if (bytes == 0) return true;
    // The payloads of one call follow each other in one buffer.
    out.annexB.assign(nals[0].p_payload, nals[0].p_payload + bytes);
    out.keyFrame = made.b_keyframe != 0;
    out.qp = made.i_qpplus1 - 1;
    if (firstPicture_) {
      firstPicture_ = false;
      param_.rc.i_vbv_buffer_size = bufferKbit(param_.rc.i_vbv_max_bitrate, kBufferMs);
      if (!bufferOpen_) x264_encoder_reconfig(encoder_, &param_);
    }
    return true;
  }

  std::string name() const override { return "x264"; }

 private:
  static int bufferKbit(int kbps, int ms) { return std::max(kbps * ms / 1000, 50); }

  void setVbv(int bitrateBps, double fps) {
    const int kbps = std::max(50, bitrateBps / 1000);
    param_.rc.i_vbv_max_bitrate = kbps;
    if (param_.rc.i_rc_method == X264_RC_ABR) param_.rc.i_bitrate = kbps;
    param_.rc.i_vbv_buffer_size = bufferKbit(kbps, firstPicture_ ? kFirstBufferMs : kBufferMs);
    if (fps > 0) {
      param_.i_fps_num = uint32_t(fps * 1000);
      param_.i_fps_den = 1000;
    }
  }

  void close() {
    if (encoder_) x264_encoder_close(encoder_);
    encoder_ = nullptr;
    lastPts_ = -1;
    bufferOpen_ = false;
    firstPicture_ = true;
    shown_ = {};
  }

  H264EncoderConfig config_;
  x264_param_t param_{};
  x264_t* encoder_ = nullptr;
  int64_t lastPts_ = -1;
  bool bufferOpen_ = false;  // for a still picture's pass
  bool bandSkips_ = false;   // the pass is a band's
  bool firstPicture_ = true;
  CodedPicture shown_;  // what the viewer has, while the screen is still
};

}  // namespace

std::unique_ptr<H264Engine> createX264Engine() { return std::make_unique<X264Engine>(); }

}  // namespace lunor::rtc
