// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The container of the host's picture: attaches to the session's remote
// track by identity, fits the picture inside its own bounds, rounds the
// result to whole points and, one event-loop turn after each layout, stores
// it in the session's displayedVideoRect. Its VideoOutput child (declared in
// VideoPicture.qml) takes the frames through `videoSink` and is placed on
// `pictureRect`.

#include <QPointer>
#include <QQuickItem>
#include <QRectF>
#include <QSizeF>
#include <QVideoSink>
#include <QtQml/qqml.h>

#include "client/video_feed.h"
#include "client/video_geometry.h"


namespace lunor {

class ClientSession;

class VideoView : public QQuickItem {
  Q_OBJECT
  QML_ELEMENT
  Q_PROPERTY(lunor::ClientSession* session READ session WRITE setSession NOTIFY sessionChanged)
  Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
  Q_PROPERTY(QSizeF contentSize READ contentSize WRITE setContentSize NOTIFY contentSizeChanged)
  Q_PROPERTY(QVideoSink* videoSink READ videoSink WRITE setVideoSink NOTIFY videoSinkChanged)
  Q_PROPERTY(QRectF pictureRect READ pictureRect NOTIFY pictureRectChanged)
  // The view draws the picture itself (a scene drawn in software), not
  // through the sink's VideoOutput.
  Q_PROPERTY(bool drawsPicture READ drawsPicture NOTIFY drawsPictureChanged)

 public:
  enum class Mode { Fit, Fill, Native };
  Q_ENUM(Mode)

  explicit VideoView(QQuickItem* parent = nullptr);

  ClientSession* session() const { return session_; }
  void setSession(ClientSession* session);
  Mode mode() const { return mode_; }
  void setMode(Mode mode);
  // The picture's size in pixels, as the stage knows it.
  QSizeF contentSize() const { return contentSize_; }
  void setContentSize(QSizeF size);
  QVideoSink* videoSink() const { return sink_; }
  void setVideoSink(QVideoSink* sink);
  // Where the picture is drawn, in this item's (Qt) coordinates.
  QRectF pictureRect() const { return pictureRect_; }
  bool drawsPicture() const { return drawsPicture_; }

  // The frames of the track, for whoever measures them.
  const VideoFeed& feed() const { return feed_; }

 Q_SIGNALS:
  void sessionChanged();
  void modeChanged();
  void contentSizeChanged();
  void videoSinkChanged();
  void pictureRectChanged();
  void drawsPictureChanged();

 protected:
  void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
  void updatePolish() override;
  void itemChange(ItemChange change, const ItemChangeData& value) override;
  QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* data) override;

 private:
  void attachTrack();

  QPointer<ClientSession> session_;
  QMetaObject::Connection trackConnection_;
  Mode mode_ = Mode::Fit;
  QSizeF contentSize_;
  QPointer<QVideoSink> sink_;
  QRectF pictureRect_;
  bool drawsPicture_ = false;
  VideoFeed feed_;
};

}  // namespace lunor
