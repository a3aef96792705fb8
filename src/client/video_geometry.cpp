// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/video_geometry.h"

#include <cmath>

namespace lunor {

QRectF fittedRect(AspectMode mode, double vw, double vh, double W, double H) {
  // Written so that NaN fails every test: !(x > 0).
  if (!(vw > 0) || !(vh > 0) || !(W > 0) || !(H > 0)) return {0, 0, W, H};
  const double va = vw / vh;
  const double ca = W / H;
  const QRectF widthLimited(0, (H - W / va) / 2, W, W / va);
  const QRectF heightLimited((W - va * H) / 2, 0, va * H, H);
  switch (mode) {
    case AspectMode::Fit: return ca < va ? widthLimited : heightLimited;
    case AspectMode::Fill: return ca >= va ? widthLimited : heightLimited;
    case AspectMode::Native: return {(W - vw) / 2, (H - vh) / 2, vw, vh};
  }
  return {0, 0, W, H};
}

QRectF integral(const QRectF& r) {
  const double x = std::floor(r.x());
  const double y = std::floor(r.y());
  return {x, y, std::ceil(r.x() + r.width()) - x, std::ceil(r.y() + r.height()) - y};
}

QSizeF stagePictureSize(QSize remoteVideoSize, QualityProfile quality) {
  if (remoteVideoSize.width() != 0 || remoteVideoSize.height() != 0) return QSizeF(remoteVideoSize);
  const QualitySettings& settings = settingsOf(quality);
  return {double(settings.width), double(settings.height)};
}

QRectF flipped(const QRectF& r, double height) {
  return {r.x(), height - r.y() - r.height(), r.width(), r.height()};
}

}  // namespace lunor
