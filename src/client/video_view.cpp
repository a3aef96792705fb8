// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/video_view.h"

#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRendererInterface>
#include <QTimer>

#include "client/client_log.h"
#include "client/client_session.h"
#include "system/console_log.h"

namespace lunor {
namespace {

// Numbers as the platform prints them: at least one decimal.
QString number(double value) {
  return value == std::floor(value) ? QString::number(value, 'f', 1) : QString::number(value, 'g', 15);
}
QString text(const QRectF& r) {
  return QStringLiteral("(%1, %2, %3, %4)").arg(number(r.x()), number(r.y()), number(r.width()), number(r.height()));
}
QString text(const QSizeF& s) { return QStringLiteral("(%1, %2)").arg(number(s.width()), number(s.height())); }

const char* modeName(VideoView::Mode mode) {
  switch (mode) {
    case VideoView::Mode::Fit: return "fit";
    case VideoView::Mode::Fill: return "fill";
    case VideoView::Mode::Native: return "native";
  }
  return "fit";
}

}  // namespace

VideoView::VideoView(QQuickItem* parent) : QQuickItem(parent) {
  connect(&feed_, &VideoFeed::pictureChanged, this, &QQuickItem::update);
}

void VideoView::itemChange(ItemChange change, const ItemChangeData& value) {
  QQuickItem::itemChange(change, value);
  // Another screen's pixel ratio: the pictures come at another size.
  if (change == ItemDevicePixelRatioHasChanged) polish();
  if (change != ItemSceneChange) return;
  const bool software = value.window && value.window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
  if (software == drawsPicture_) return;
  drawsPicture_ = software;
  setFlag(ItemHasContents, software);
  polish();
  Q_EMIT drawsPictureChanged();
}

QSGNode* VideoView::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
  const QImage picture = feed_.picture();
  if (!drawsPicture_ || picture.isNull() || pictureRect_.isEmpty()) {
    delete old;
    return nullptr;
  }
  auto* node = static_cast<QSGImageNode*>(old);
  if (!node) {
    node = window()->createImageNode();
    node->setOwnsTexture(true);
  }
  node->setTexture(window()->createTextureFromImage(picture));
  node->setRect(pictureRect_);
  node->setFiltering(QSGTexture::Linear);
  return node;
}

void VideoView::setSession(ClientSession* session) {
  if (session_ == session) return;
  QObject::disconnect(trackConnection_);
  session_ = session;
  if (session_) {
    trackConnection_ =
        connect(session_, &ClientSession::remoteVideoTrackChanged, this, &VideoView::attachTrack);
  }
  attachTrack();
  polish();
  Q_EMIT sessionChanged();
}

void VideoView::attachTrack() { feed_.setTrack(session_ ? session_->remoteVideoTrack() : nullptr); }

void VideoView::setMode(Mode mode) {
  if (mode_ == mode) return;
  mode_ = mode;
  polish();
  Q_EMIT modeChanged();
}

void VideoView::setContentSize(QSizeF size) {
  if (contentSize_ == size) return;
  contentSize_ = size;
  polish();
  Q_EMIT contentSizeChanged();
}

void VideoView::setVideoSink(QVideoSink* sink) {
  if (sink_ == sink) return;
  sink_ = sink;
  feed_.setVideoSink(sink);
  Q_EMIT videoSinkChanged();
}

void VideoView::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
  QQuickItem::geometryChange(newGeometry, oldGeometry);
  if (newGeometry.size() != oldGeometry.size()) polish();
}

// The layout pass. The view space's rectangles have their origin at the
// bottom left; Qt's at the top left: the picture is placed in Qt's space,
// and the session hears of it in the view space's.
void VideoView::updatePolish() {
  const QRectF bounds(0, 0, width(), height());
  const bool verbose = lcClient().isDebugEnabled();
  if (verbose) {
    consoleLine(lcClient(), QStringLiteral("🟣 [VideoView] layout() appelé"));
    consoleLine(lcClient(), QStringLiteral("   bounds = ") + text(bounds));
    consoleLine(lcClient(), QStringLiteral("   videoPixelSize = ") + text(contentSize_));
    consoleLine(lcClient(), QStringLiteral("   aspectMode = ") + QLatin1String(modeName(mode_)));
  }
  QRectF displayed = bounds;
  if (contentSize_.width() > 0 && contentSize_.height() > 0) {
    // The container always fits: the stage has framed it to the picture already.
    const QRectF rect =
        fittedRect(AspectMode::Fit, contentSize_.width(), contentSize_.height(), bounds.width(), bounds.height());
    displayed = integral(rect);
    if (verbose) {
      consoleLine(lcClient(), QStringLiteral("   ➡️ rect calculé = ") + text(rect));
      consoleLine(lcClient(), QStringLiteral("   ➡️ displayedRect final = ") + text(displayed));
    }
  }
  const QRectF picture = flipped(displayed, bounds.height());
  if (pictureRect_ != picture) {
    pictureRect_ = picture;
    Q_EMIT pictureRectChanged();
    update();
  }
  // Drawn in software: the picture comes at the size it is drawn at.
  const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
  feed_.setDrawnSize(drawsPicture_ ? (picture.size() * ratio).toSize() : QSize());
  // Reported one turn later, outside the layout pass; storing an equal
  // rectangle changes nothing in the session, so the chain settles.
  QTimer::singleShot(0, this, [this, displayed, verbose] {
    if (session_) session_->setDisplayedVideoRect(displayed);
    if (verbose) consoleLine(lcClient(), QStringLiteral("   ✅ Callback appelé avec rect = ") + text(displayed));
  });
}

}  // namespace lunor
