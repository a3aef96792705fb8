// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/user_profile_store.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSettings>
#include <QUuid>

namespace lunor {
namespace {

bool isHorizontalSpace(QChar c) {
  return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimHorizontal(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && isHorizontalSpace(text.at(begin))) ++begin;
  while (end > begin && isHorizontalSpace(text.at(end - 1))) --end;
  return text.mid(begin, end - begin);
}

std::optional<QByteArray> pngBytes(const QImage& image) {
  if (image.isNull()) return std::nullopt;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) return std::nullopt;
  return bytes;
}

}  // namespace

QByteArray encodeProfile(const UserProfile& profile) {
  QJsonObject object{{QStringLiteral("firstName"), profile.firstName},
                     {QStringLiteral("lastName"), profile.lastName},
                     {QStringLiteral("unattendedEnabled"), profile.unattendedEnabled}};
  if (profile.avatarFilename) object.insert(QStringLiteral("avatarFilename"), *profile.avatarFilename);
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<UserProfile> decodeProfile(const QByteArray& bytes) {
  const QJsonDocument document = QJsonDocument::fromJson(bytes);
  if (!document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  const QJsonValue first = object.value(QLatin1String("firstName"));
  const QJsonValue last = object.value(QLatin1String("lastName"));
  const QJsonValue unattended = object.value(QLatin1String("unattendedEnabled"));
  const QJsonValue avatar = object.value(QLatin1String("avatarFilename"));
  if (!first.isString() || !last.isString() || !unattended.isBool()) return std::nullopt;
  if (!avatar.isUndefined() && !avatar.isNull() && !avatar.isString()) return std::nullopt;
  UserProfile profile;
  profile.firstName = first.toString();
  profile.lastName = last.toString();
  profile.unattendedEnabled = unattended.toBool();
  if (avatar.isString()) profile.avatarFilename = avatar.toString();
  return profile;
}

QString displayName(const UserProfile& profile) {
  QStringList parts;
  for (const QString& part : {trimHorizontal(profile.firstName), trimHorizontal(profile.lastName)}) {
    if (!part.isEmpty()) parts << part;
  }
  return parts.join(QLatin1Char(' '));
}

QImage scaledAvatar(const QImage& image, int maxSide) {
  if (image.isNull() || maxSide <= 0) return image;
  const double scale = std::min({double(maxSide) / image.width(),
                                 double(maxSide) / image.height(), 1.0});
  if (scale >= 1.0) return image;
  const QSize size(std::max(1, qRound(image.width() * scale)),
                   std::max(1, qRound(image.height() * scale)));
  QImage result(size, QImage::Format_ARGB32_Premultiplied);
  result.fill(Qt::transparent);
  QPainter painter(&result);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(QPoint(0, 0), size), image);
  painter.end();
  return result;
}

QImage decodeWireAvatar(const QString& base64) {
  // The picture comes from a peer nobody has vouched for yet: only the two
  // formats a profile picture travels in, read by their own decoder, within
  // a byte and a pixel budget checked before any pixel is decoded.
  if (base64.isEmpty() || base64.size() > (kMaxWireAvatarBytes / 3 + 1) * 4) return {};
  const auto decoded = QByteArray::fromBase64Encoding(base64.toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.isEmpty()) return {};
  const QByteArray& bytes = decoded.decoded;
  const char* format = nullptr;
  if (bytes.startsWith(QByteArrayLiteral("\x89PNG\r\n\x1a\n"))) {
    format = "png";
  } else if (bytes.startsWith(QByteArrayLiteral("\xff\xd8\xff"))) {
    format = "jpeg";
  } else {
    return {};
  }
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setAutoDetectImageFormat(false);
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > kMaxWireAvatarSide || size.height() > kMaxWireAvatarSide) return {};
  reader.setAllocationLimit(16);  // megabytes; the side limit keeps far below it
  QImage image;
  if (!reader.read(&image)) return {};
  return image;
}

UserProfileStore::UserProfileStore(QSettings& settings, QString dataDirectory, QObject* parent)
    : QObject(parent), settings_(settings), dataDirectory_(std::move(dataDirectory)) {
  load();
}

void UserProfileStore::load() {
  const QVariant stored = settings_.value(QLatin1String(kDefaultsKey));
  if (!stored.isValid()) return;
  if (auto profile = decodeProfile(stored.toByteArray())) update(*profile);
}

void UserProfileStore::save() {
  settings_.setValue(QLatin1String(kDefaultsKey), encodeProfile(profile_));
  settings_.sync();
}

void UserProfileStore::update(const UserProfile& next) {
  if (profile_ == next) return;
  profile_ = next;
  Q_EMIT profileChanged();
}

void UserProfileStore::setFirstName(const QString& name) {
  UserProfile next = profile_;
  next.firstName = name;
  update(next);
  save();
}

void UserProfileStore::setLastName(const QString& name) {
  UserProfile next = profile_;
  next.lastName = name;
  update(next);
  save();
}

void UserProfileStore::setUnattendedEnabled(bool enabled) {
  UserProfile next = profile_;
  next.unattendedEnabled = enabled;
  update(next);
  save();
}

bool UserProfileStore::acceptsUnprovenClients() const {
  return settings_.value(QLatin1String(kUnprovenClientsKey), false).toBool();
}

void UserProfileStore::setAcceptsUnprovenClients(bool accepts) {
  if (accepts == acceptsUnprovenClients()) return;
  settings_.setValue(QLatin1String(kUnprovenClientsKey), accepts);
  settings_.sync();
  Q_EMIT acceptsUnprovenClientsChanged();
}

QByteArray UserProfileStore::passwordBudget() const {
  return settings_.value(QLatin1String(kPasswordBudgetKey)).toByteArray();
}

void UserProfileStore::setPasswordBudget(const QByteArray& saved) {
  settings_.setValue(QLatin1String(kPasswordBudgetKey), saved);
  settings_.sync();
}

bool UserProfileStore::chooseAvatar(const QImage& image) {
  const auto filename = saveAvatar(image);
  if (!filename) return false;
  UserProfile next = profile_;
  next.avatarFilename = *filename;
  update(next);
  save();
  return true;
}

bool UserProfileStore::chooseAvatarFile(const QUrl& file) {
  if (!file.isLocalFile()) return false;
  const QImage image(file.toLocalFile());
  return !image.isNull() && chooseAvatar(image);
}

void UserProfileStore::removeAvatar() {
  UserProfile next = profile_;
  next.avatarFilename.reset();
  update(next);
  save();
}

QString UserProfileStore::avatarDirectory() const {
  const QString path = QDir(dataDirectory_).filePath(QStringLiteral("LunorRemote"));
  QDir().mkpath(path);
  return path;
}

QImage UserProfileStore::avatarImage() const {
  if (!profile_.avatarFilename) return {};
  // Only a plain file name inside the directory is honoured.
  const QString name = *profile_.avatarFilename;
  if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String("..")) return {};
  return QImage(QDir(avatarDirectory()).filePath(name));
}

std::optional<QString> UserProfileStore::saveAvatar(const QImage& image) const {
  const auto png = pngBytes(image);
  if (!png) return std::nullopt;
  const QString filename = QStringLiteral("avatar-") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper() +
                           QStringLiteral(".png");
  QFile file(QDir(avatarDirectory()).filePath(filename));
  if (!file.open(QIODevice::WriteOnly) || file.write(*png) != png->size()) return std::nullopt;
  return filename;
}

std::optional<QString> UserProfileStore::wireAvatar() const {
  const QImage image = avatarImage();
  if (image.isNull()) return std::nullopt;
  const auto png = pngBytes(scaledAvatar(image, kWireAvatarSide));
  if (!png) return std::nullopt;
  return QString::fromLatin1(png->toBase64());
}

}  // namespace lunor
