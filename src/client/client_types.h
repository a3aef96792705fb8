// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client's QML module, Lunor.Client: the session as QML sees it, and the
// stage's geometry.

#include <QObject>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QtQml/qqml.h>

#include "client/client_session.h"

namespace lunor {

// The sessions, as types QML may hold but not make: what both sides share,
// and the client's.
struct ForeignSession {
  Q_GADGET
  QML_FOREIGN(lunor::Session)
  QML_NAMED_ELEMENT(Session)
  QML_UNCREATABLE("Sessions are made by the application.")
};

struct ForeignClientSession {
  Q_GADGET
  QML_FOREIGN(lunor::ClientSession)
  QML_NAMED_ELEMENT(ClientSession)
  QML_UNCREATABLE("Sessions are made by the application.")
};

// The stage's sums, for QML.
class StageGeometry : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(StageGeometry)
  QML_SINGLETON

 public:
  using QObject::QObject;
  // fittedRect() with mode 0 fit, 1 fill, 2 native.
  Q_INVOKABLE QRectF fittedRect(int mode, qreal videoWidth, qreal videoHeight, qreal width, qreal height) const;
  // The picture's size: the host's geometry, or the profile's size.
  Q_INVOKABLE QSizeF pictureSize(QSize remoteVideoSize, const QString& quality) const;
};

}  // namespace lunor
