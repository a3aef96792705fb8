// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include <wels/codec_api.h>

#include "rtc/h264/h264_engine.h"

namespace lunor::rtc {

std::unique_ptr<H264Engine> createX264Engine();

namespace {

// OpenH264 as WebRTC sets it up for a screen (its screen-content mode, a
// bit rate with frames skipped when over it, one spatial layer), with the
// complexity, threads and slices chosen.
class OpenH264Engine final : public H264Engine {
 public:
  ~OpenH264Engine() override { close(); }

  bool open(const H264EncoderConfig& config, std::string* error) override {
    close();
    config_ = config;
    if (WelsCreateSVCEncoder(&encoder_) != 0 || !encoder_) {
      if (error) *error = "OpenH264: no encoder";
      encoder_ = nullptr;
      return false;
    }
    SEncParamExt p;
    encoder_->GetDefaultParams(&p);
    p.iUsageType = config.screenContent ? SCREEN_CONTENT_REAL_TIME : CAMERA_VIDEO_REAL_TIME;
    p.iPicWidth = config.width;
    p.iPicHeight = config.height;
    p.iTargetBitrate = std::max(1, config.bitrateBps);
    p.iMaxBitrate = UNSPECIFIED_BIT_RATE;
    p.iRCMode = RC_BITRATE_MODE;
    p.fMaxFrameRate = float(std::max(1.0, config.fps));
    p.bEnableFrameSkip = true;
    p.uiIntraPeriod = 0;  // key frames when asked for
    p.eSpsPpsIdStrategy = SPS_LISTING;
    p.iComplexityMode = ECOMPLEXITY_MODE(std::clamp(config.complexity, 0, 2));
    p.iMultipleThreadIdc = config.threads;
    p.iMaxQp = std::clamp(config.qpMax, 1, 51);
    p.iSpatialLayerNum = 1;
    p.iTemporalLayerNum = 1;
    SSpatialLayerConfig& layer = p.sSpatialLayers[0];
    layer.iVideoWidth = config.width;
    layer.iVideoHeight = config.height;
    layer.fFrameRate = p.fMaxFrameRate;
    layer.iSpatialBitrate = p.iTargetBitrate;
    layer.iMaxSpatialBitrate = p.iMaxBitrate;
    layer.bVideoSignalTypePresent = true;
    layer.uiVideoFormat = VF_UNDEF;
    layer.bFullRange = false;
    layer.bColorDescriptionPresent = true;
    layer.uiColorPrimaries = kVuiPrimariesBt709;
    layer.uiTransferCharacteristics = kVuiTransferSrgb;
    layer.uiColorMatrix = kVuiMatrixBt601;
    if (config.maxNalBytes > 0) {
      p.uiMaxNalSize = unsigned(config.maxNalBytes);
      layer.sSliceArgument.uiSliceMode = SM_SIZELIMITED_SLICE;
      layer.sSliceArgument.uiSliceSizeConstraint = unsigned(config.maxNalBytes);
    } else {
      layer.sSliceArgument.uiSliceMode = SM_FIXEDSLCNUM_SLICE;
      layer.sSliceArgument.uiSliceNum = unsigned(std::max(0, config.slices));
    }
    int quiet = WELS_LOG_ERROR;
    encoder_->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
    if (encoder_->InitializeExt(&p) != 0) {
      if (error) *error = "OpenH264: the encoder refused its settings";
      close();
      return false;
    }
    int format = videoFormatI420;
    encoder_->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
    return true;
  }

  void setRates(int bitrateBps, double fps) override {
    if (!encoder_) return;
    SBitrateInfo target{};
    target.iLayer = SPATIAL_LAYER_ALL;
    target.iBitrate = std::max(1, bitrateBps);
    encoder_->SetOption(ENCODER_OPTION_BITRATE, &target);
    float rate = float(std::max(1.0, fps));
    encoder_->SetOption(ENCODER_OPTION_FRAME_RATE, &rate);
  }

  bool encode(const H264Picture& picture, H264Output& out) override {
    out = {};
    if (!encoder_ || picture.width != config_.width || picture.height != config_.height) return false;
    SSourcePicture in{};
    in.iColorFormat = videoFormatI420;
    in.iPicWidth = picture.width;
    in.iPicHeight = picture.height;
    in.uiTimeStamp = picture.timestampUs / 1000;
    in.iStride[0] = picture.strideY;
    in.iStride[1] = picture.strideU;
    in.iStride[2] = picture.strideV;
    in.pData[0] = const_cast<uint8_t*>(picture.y);
    in.pData[1] = const_cast<uint8_t*>(picture.u);
    in.pData[2] = const_cast<uint8_t*>(picture.v);
    if (picture.keyFrame) encoder_->ForceIntraFrame(true);
    SFrameBSInfo made{};
    if (encoder_->EncodeFrame(&in, &made) != 0) return false;
    if (made.eFrameType == videoFrameTypeSkip || made.eFrameType == videoFrameTypeInvalid) return true;
    for (int l = 0; l < made.iLayerNum; ++l) {
      const SLayerBSInfo& layer = made.sLayerInfo[l];
      size_t bytes = 0;
      for (int n = 0; n < layer.iNalCount; ++n) bytes += size_t(layer.pNalLengthInByte[n]);
      out.annexB.insert(out.annexB.end(), layer.pBsBuf, layer.pBsBuf + bytes);
    }
    out.keyFrame = made.eFrameType == videoFrameTypeIDR;
    return true;
  }

  std::string name() const override { return "OpenH264"; }

 private:
  void close() {
    if (encoder_) {
      encoder_->Uninitialize();
      WelsDestroySVCEncoder(encoder_);
    }
    encoder_ = nullptr;
  }

  H264EncoderConfig config_;
  ISVCEncoder* encoder_ = nullptr;
};

}  // namespace

std::unique_ptr<H264Engine> createH264Engine(const std::string& name) {
  if (name == "x264") return createX264Engine();
  if (name == "openh264") return std::make_unique<OpenH264Engine>();
  return nullptr;
}

std::vector<std::string> h264EngineNames() { return {"openh264", "x264"}; }

struct H264PictureDecoder::Impl {
  ISVCDecoder* decoder = nullptr;
};

H264PictureDecoder::H264PictureDecoder() : impl_(std::make_unique<Impl>()) {
  if (WelsCreateDecoder(&impl_->decoder) != 0) {
    impl_->decoder = nullptr;
    return;
  }
  SDecodingParam param{};
  param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  if (impl_->decoder->Initialize(&param) != 0) {
    WelsDestroyDecoder(impl_->decoder);
    impl_->decoder = nullptr;
  }
}

H264PictureDecoder::~H264PictureDecoder() {
  if (impl_->decoder) {
    impl_->decoder->Uninitialize();
    WelsDestroyDecoder(impl_->decoder);
  }
}

bool H264PictureDecoder::decode(const std::vector<uint8_t>& annexB, Planes& out) {
  if (!impl_->decoder || annexB.empty()) return false;
  unsigned char* planes[3] = {};
  SBufferInfo info{};
  const DECODING_STATE state =
      impl_->decoder->DecodeFrameNoDelay(annexB.data(), int(annexB.size()), planes, &info);
  if (state != dsErrorFree || info.iBufferStatus != 1) return false;
  out.y = planes[0];
  out.u = planes[1];
  out.v = planes[2];
  out.strideY = info.UsrData.sSystemBuffer.iStride[0];
  out.strideUV = info.UsrData.sSystemBuffer.iStride[1];
  out.width = info.UsrData.sSystemBuffer.iWidth;
  out.height = info.UsrData.sSystemBuffer.iHeight;
  return true;
}

}  // namespace lunor::rtc
