// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shows a remote track's decoded frames through a QVideoSink (the sink of a
// VideoOutput, which turns them into RGB on the GPU). Frames keep the
// decoder's I420 layout: ours is a copy of the three planes, row by row,
// nothing per pixel. Only the newest frame waits to be shown: one that
// arrives before the last reached the sink replaces it, so a slow screen
// never builds a queue and never makes the decoder wait.
//
// Where the scene is drawn in software, the sink's way costs most of a core
// for a 1080p picture (the conversion and the scaling run per pixel in a
// software OpenGL's shaders): there the picture is turned into RGB at the
// size it is drawn at, vectorised, on the decoder's thread, and drawn as
// it is.

#include <atomic>
#include <memory>
#include <mutex>

#include <QObject>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QVideoFrame>

#include "rtc/peer_connection.h"

class QVideoSink;

namespace lunor {

class VideoFeed final : public QObject, private rtc::VideoSink {
  Q_OBJECT

 public:
  explicit VideoFeed(QObject* parent = nullptr);
  // Detaches from the track; returns once no frame is on its way in.
  ~VideoFeed() override;

  // The track to show; the same track object again changes nothing, none
  // detaches and clears the picture. Main thread.
  void setTrack(std::shared_ptr<rtc::VideoTrack> track);
  // Where the frames go; may be null. Main thread.
  void setVideoSink(QVideoSink* sink);
  // Pictures in RGB at this size in pixels instead of frames to the sink
  // (empty: to the sink). Main thread.
  void setDrawnSize(QSize size);
  // The newest picture in RGB; null when none (main thread).
  QImage picture() const { return picture_; }

  // Frames received from the track, and handed to the sink.
  uint64_t framesReceived() const { return received_.load(); }
  uint64_t framesPresented() const { return presented_.load(); }

 Q_SIGNALS:
  void pictureChanged();

 private:
  void onFrame(const rtc::I420FrameView& frame) override;  // library thread
  void present();                                           // main thread
  // The newest frame for the sink, or picture drawn by the view, to present.
  void hand(QVideoFrame frame, QImage picture);

  std::shared_ptr<rtc::VideoTrack> track_;
  QPointer<QVideoSink> sink_;
  QImage picture_;  // main thread
  std::mutex mutex_;  // guards the four below; never held while calling the library
  QVideoFrame pending_;
  QImage pendingPicture_;
  QSize drawnSize_;
  bool presentQueued_ = false;
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> presented_{0};
};

}  // namespace lunor
