// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/image_providers.h"

#include <algorithm>
#include <mutex>

#include <QColor>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QQmlEngine>
#include <QSvgRenderer>

#include "session/session.h"
#include "store/user_profile_store.h"

namespace lunor {

namespace {

constexpr int kDefaultIconSize = 64;

}  // namespace

IconProvider::IconProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage IconProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
  const int slash = id.lastIndexOf(QLatin1Char('/'));
  const QString name = slash < 0 ? id : id.left(slash);
  const QColor colour(slash < 0 ? QStringLiteral("#000000") : QLatin1Char('#') + id.mid(slash + 1));
  QSvgRenderer svg(QStringLiteral(":/qt/qml/Lunor/Ui/icons/%1.svg").arg(name));
  QSize target = requestedSize;
  if (target.width() <= 0 && target.height() <= 0) target = QSize(kDefaultIconSize, kDefaultIconSize);
  if (target.width() <= 0) target.setWidth(target.height());
  if (target.height() <= 0) target.setHeight(target.width());
  QImage image(target, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  if (svg.isValid()) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Kept in proportion, centred.
    QSizeF drawn = svg.defaultSize().scaled(target, Qt::KeepAspectRatio);
    svg.render(&painter, QRectF(QPointF((target.width() - drawn.width()) / 2, (target.height() - drawn.height()) / 2), drawn));
    painter.end();
    // Black takes the colour; white details are cut out, so that a filled
    // symbol shows its glyph in whatever lies behind it.
    const QColor ink = colour.isValid() ? colour : QColor(Qt::black);
    QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(straight.scanLine(y));
      for (int x = 0; x < straight.width(); ++x) {
        const int alpha = qAlpha(line[x]);
        if (alpha == 0) continue;
        const double light = (qRed(line[x]) + qGreen(line[x]) + qBlue(line[x])) / (3.0 * 255.0);
        line[x] = qRgba(ink.red(), ink.green(), ink.blue(), int(alpha * (1 - light) * ink.alpha() / 255 + 0.5));
      }
    }
    image = straight.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }
  if (size) *size = target;
  return image;
}

struct AvatarImages::Shelf {
  std::mutex mutex;
  QHash<QString, QImage> images;
};

namespace {

class AvatarProvider final : public QQuickImageProvider {
 public:
  explicit AvatarProvider(std::shared_ptr<void> shelf, std::function<QImage(const QString&)> lookup)
      : QQuickImageProvider(QQuickImageProvider::Image), shelf_(std::move(shelf)), lookup_(std::move(lookup)) {}
  // id: KEY/REVISION[/circle|/rounded]: the picture, cropped square and
  // cut to a circle or to rounded corners (radius a sixth of its side).
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override {
    QImage image = lookup_(id.section(QLatin1Char('/'), 0, 0));
    const QString shape = id.section(QLatin1Char('/'), 2, 2);
    if (!image.isNull() && !shape.isEmpty()) image = shaped(image, requestedSize, shape == QLatin1String("circle"));
    else if (!image.isNull() && requestedSize.isValid()) {
      image = image.scaled(requestedSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    }
    if (size) *size = image.size();
    return image;
  }

  static QImage shaped(const QImage& picture, const QSize& requested, bool circle) {
    const int side = requested.isValid() ? std::max(requested.width(), requested.height())
                                         : std::min(picture.width(), picture.height());
    const QImage square = picture.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QImage out(side, side, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    if (circle) path.addEllipse(QRectF(0, 0, side, side));
    else path.addRoundedRect(QRectF(0, 0, side, side), side / 6.0, side / 6.0);
    painter.setClipPath(path);
    painter.drawImage(QPoint((side - square.width()) / 2, (side - square.height()) / 2), square);
    return out;
  }

 private:
  std::shared_ptr<void> shelf_;  // keeps the pictures alive as long as the engine asks
  std::function<QImage(const QString&)> lookup_;
};

}  // namespace

AvatarImages::AvatarImages(QObject* parent) : QObject(parent), shelf_(std::make_shared<Shelf>()) {}

AvatarImages::~AvatarImages() = default;

void AvatarImages::install(QQmlEngine& engine) {
  std::shared_ptr<Shelf> shelf = shelf_;
  engine.addImageProvider(QStringLiteral("avatar"), new AvatarProvider(shelf, [shelf](const QString& key) {
                            std::lock_guard lock(shelf->mutex);
                            return shelf->images.value(key);
                          }));
}

QString AvatarImages::publish(const QString& key, const QImage& image) {
  static int revision = 0;
  {
    std::lock_guard lock(shelf_->mutex);
    if (image.isNull()) {
      shelf_->images.remove(key);
    } else {
      shelf_->images.insert(key, image);
    }
  }
  // A new URL each time, so that no cached picture is shown.
  return image.isNull() ? QString() : QStringLiteral("image://avatar/%1/%2").arg(key).arg(++revision);
}

void AvatarImages::follow(UserProfileStore& profile) {
  auto update = [this, &profile] {
    profile_ = publish(QStringLiteral("profile"), profile.avatarImage());
    Q_EMIT changed();
  };
  connect(&profile, &UserProfileStore::profileChanged, this, update);
  update();
}

void AvatarImages::follow(Session& hostSession) {
  auto update = [this, &hostSession] {
    requester_ = publish(QStringLiteral("requester"), hostSession.requesterAvatar());
    Q_EMIT changed();
  };
  connect(&hostSession, &Session::requesterAvatarChanged, this, update);
  update();
}

}  // namespace lunor
