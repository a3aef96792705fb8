// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/video_feed.h"

#include <cstring>

#include <QVideoFrameFormat>
#include <QVideoSink>

namespace lunor {
namespace {

// rows of rowBytes into a plane of toRows of toRowBytes, the last column and
// row repeated into the rest.
void copyPlane(uchar* to, int toStride, const uint8_t* from, int fromStride, int rowBytes, int rows, int toRowBytes,
               int toRows) {
  if (toStride == fromStride && rowBytes == toRowBytes && rows == toRows) {
    std::memcpy(to, from, static_cast<size_t>(toStride) * rows);
    return;
  }
  for (int row = 0; row < toRows; ++row) {
    uchar* line = to + static_cast<size_t>(row) * toStride;
    if (row < rows) {
      std::memcpy(line, from + static_cast<size_t>(row) * fromStride, static_cast<size_t>(rowBytes));
      std::memset(line + rowBytes, line[rowBytes - 1], static_cast<size_t>(toRowBytes - rowBytes));
    } else {
      std::memcpy(line, line - toStride, static_cast<size_t>(toRowBytes));
    }
  }
}

}  // namespace

VideoFeed::VideoFeed(QObject* parent) : QObject(parent) {}

VideoFeed::~VideoFeed() { setTrack(nullptr); }

void VideoFeed::setTrack(std::shared_ptr<rtc::VideoTrack> track) {
  if (track == track_) return;
  if (track_) track_->removeSink(this);
  track_ = std::move(track);
  if (track_) {
    track_->addSink(this);
  } else {
    {
      std::lock_guard lock(mutex_);
      pending_ = QVideoFrame();
      pendingPicture_ = QImage();
    }
    if (sink_) sink_->setVideoFrame(QVideoFrame());
    if (!picture_.isNull()) {
      picture_ = QImage();
      Q_EMIT pictureChanged();
    }
  }
}

void VideoFeed::setDrawnSize(QSize size) {
  std::lock_guard lock(mutex_);
  drawnSize_ = size;
}

void VideoFeed::setVideoSink(QVideoSink* sink) { sink_ = sink; }

void VideoFeed::onFrame(const rtc::I420FrameView& frame) {
  if (!frame.y || !frame.u || !frame.v || frame.width <= 0 || frame.height <= 0) return;
  ++received_;
  QSize drawn;
  {
    std::lock_guard lock(mutex_);
    drawn = drawnSize_;
  }
  if (!drawn.isEmpty() && frame.toBgra) {
    QImage picture(drawn, QImage::Format_RGB32);
    if (picture.isNull()) return;  // no memory for it
    frame.toBgra(frame, picture.bits(), int(picture.bytesPerLine()), drawn.width(), drawn.height());
    hand({}, std::move(picture));
    return;
  }
  const int chromaWidth = (frame.width + 1) / 2;
  const int chromaHeight = (frame.height + 1) / 2;
  // Qt lays out and draws a planar picture whose chroma has an odd number of
  // rows or columns askew (1440x810, 1680x1050): such a picture goes in a
  // frame a little larger, its last row and column repeated, with the
  // picture itself as the frame's viewport.
  const QSize padded((chromaWidth + 1) / 2 * 4, (chromaHeight + 1) / 2 * 4);
  QVideoFrameFormat format(padded, QVideoFrameFormat::Format_YUV420P);
  format.setViewport(QRect(0, 0, frame.width, frame.height));
  // What the host's converter writes (libyuv's ARGB to I420, like the macOS
  // host's encoder): BT.601 in video range. Left undefined, Qt would pick
  // BT.709 for pictures this large and turn red into orange.
  format.setColorSpace(QVideoFrameFormat::ColorSpace_BT601);
  format.setColorRange(QVideoFrameFormat::ColorRange_Video);
  QVideoFrame copy(format);
  if (!copy.map(QVideoFrame::WriteOnly)) return;
  copyPlane(copy.bits(0), copy.bytesPerLine(0), frame.y, frame.strideY, frame.width, frame.height,
            padded.width(), padded.height());
  copyPlane(copy.bits(1), copy.bytesPerLine(1), frame.u, frame.strideU, chromaWidth, chromaHeight,
            padded.width() / 2, padded.height() / 2);
  copyPlane(copy.bits(2), copy.bytesPerLine(2), frame.v, frame.strideV, chromaWidth, chromaHeight,
            padded.width() / 2, padded.height() / 2);
  copy.unmap();
  copy.setStartTime(frame.timestampUs);
  hand(std::move(copy), {});
}

void VideoFeed::hand(QVideoFrame frame, QImage picture) {
  bool queue = false;
  {
    std::lock_guard lock(mutex_);
    pending_ = std::move(frame);
    pendingPicture_ = std::move(picture);
    queue = !std::exchange(presentQueued_, true);
  }
  // One hop to the main thread however many frames come meanwhile.
  if (queue) QMetaObject::invokeMethod(this, &VideoFeed::present, Qt::QueuedConnection);
}

void VideoFeed::present() {
  QVideoFrame frame;
  QImage picture;
  {
    std::lock_guard lock(mutex_);
    frame = std::exchange(pending_, QVideoFrame());
    picture = std::exchange(pendingPicture_, QImage());
    presentQueued_ = false;
  }
  if (!picture.isNull()) {
    picture_ = std::move(picture);
    ++presented_;
    Q_EMIT pictureChanged();
    return;
  }
  if (!sink_ || !frame.isValid()) return;
  sink_->setVideoFrame(frame);
  ++presented_;
}

}  // namespace lunor
