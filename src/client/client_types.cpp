// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/client_types.h"

#include "client/video_geometry.h"

namespace lunor {

QRectF StageGeometry::fittedRect(int mode, qreal videoWidth, qreal videoHeight, qreal width, qreal height) const {
  const AspectMode aspect = mode == 1 ? AspectMode::Fill : mode == 2 ? AspectMode::Native : AspectMode::Fit;
  return lunor::fittedRect(aspect, videoWidth, videoHeight, width, height);
}

QSizeF StageGeometry::pictureSize(QSize remoteVideoSize, const QString& quality) const {
  return stagePictureSize(remoteVideoSize, qualityFromRaw(quality).value_or(kDefaultQuality));
}

}  // namespace lunor
