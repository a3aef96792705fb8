// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pictures for QML: our icon set in any colour ("image://icon/NAME/RRGGBB",
// or AARRGGBB), and the avatars the screens show, published by AvatarImages
// ("image://avatar/...").

#include <memory>

#include <QImage>
#include <QObject>
#include <QQuickImageProvider>
#include <QtQml/qqml.h>

class QQmlEngine;

namespace lunor {

class Session;
class UserProfileStore;

// Renders icons/NAME.svg from the module's resources, tinted.
class IconProvider final : public QQuickImageProvider {
 public:
  IconProvider();
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

// The profile's picture and the requester's, as image URLs that change
// whenever the picture does (empty without a picture). Main thread only;
// the provider it installs may be asked from the engine's loader thread.
class AvatarImages : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(AvatarImages)
  QML_UNCREATABLE("Made by the application.")
  Q_PROPERTY(QString profile READ profile NOTIFY changed)
  Q_PROPERTY(QString requester READ requester NOTIFY changed)

 public:
  explicit AvatarImages(QObject* parent = nullptr);
  ~AvatarImages() override;

  // Installs the provider in the engine ("avatar").
  void install(QQmlEngine& engine);
  // Follows the profile's picture; the store must outlive this object.
  void follow(UserProfileStore& profile);
  // Follows a host session's requester picture; the session must outlive this object.
  void follow(Session& hostSession);
  // A picture the panels show (the requester's, given with a join request).
  QString publish(const QString& key, const QImage& image);

  QString profile() const { return profile_; }
  QString requester() const { return requester_; }

 Q_SIGNALS:
  void changed();

 private:
  struct Shelf;
  std::shared_ptr<Shelf> shelf_;
  QString profile_;
  QString requester_;
};

}  // namespace lunor
