// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The local user's profile: names and picture shown to the other side, and
// the unattended-access switch. Kept as compact JSON bytes under
// "UserProfile.v1" in the settings store; the picture is a PNG file in the
// data directory. Main thread only.

#include <optional>

#include <QImage>
#include <QObject>
#include <QUrl>
#include <QString>

class QSettings;

namespace lunor {

struct UserProfile {
  QString firstName;
  QString lastName;
  std::optional<QString> avatarFilename;
  bool unattendedEnabled = false;

  bool operator==(const UserProfile&) const = default;
};

// Compact JSON of the record; "avatarFilename" is left out when absent.
QByteArray encodeProfile(const UserProfile& profile);
// Nothing when a required key is missing or of the wrong type.
std::optional<UserProfile> decodeProfile(const QByteArray& bytes);

// First and last name, each trimmed of horizontal white space (not line
// breaks), the non-empty ones joined by one space.
QString displayName(const UserProfile& profile);

// Scales down (never up) to fit maxSide on the longer side, keeping the ratio.
QImage scaledAvatar(const QImage& image, int maxSide);

class UserProfileStore final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString firstName READ firstName WRITE setFirstName NOTIFY profileChanged)
  Q_PROPERTY(QString lastName READ lastName WRITE setLastName NOTIFY profileChanged)
  Q_PROPERTY(QString displayName READ displayName NOTIFY profileChanged)
  Q_PROPERTY(bool unattendedEnabled READ unattendedEnabled WRITE setUnattendedEnabled NOTIFY profileChanged)
  Q_PROPERTY(bool hasAvatar READ hasAvatar NOTIFY profileChanged)
  // Unattended access also for clients that cannot prove the password to
  // this machine themselves (built to the original design): the server
  // then holds the password's digest and its word admits them.
  Q_PROPERTY(bool acceptsUnprovenClients READ acceptsUnprovenClients WRITE setAcceptsUnprovenClients NOTIFY
                 acceptsUnprovenClientsChanged)

 public:
  static constexpr char kDefaultsKey[] = "UserProfile.v1";
  static constexpr char kUnprovenClientsKey[] = "Unattended.acceptsUnprovenClients";
  static constexpr char kPasswordBudgetKey[] = "Unattended.passwordBudget";
  static constexpr int kWireAvatarSide = 96;

  // settings is borrowed and must outlive the store. dataDirectory is the
  // directory the "LunorRemote" sub-directory goes in. Loads at once.
  UserProfileStore(QSettings& settings, QString dataDirectory, QObject* parent = nullptr);

  const UserProfile& profile() const { return profile_; }
  QString firstName() const { return profile_.firstName; }
  QString lastName() const { return profile_.lastName; }
  QString displayName() const { return lunor::displayName(profile_); }
  bool unattendedEnabled() const { return profile_.unattendedEnabled; }
  bool hasAvatar() const { return profile_.avatarFilename.has_value(); }
  bool acceptsUnprovenClients() const;
  // The wrong passwords the host counted, as it saved them (empty: none).
  QByteArray passwordBudget() const;
  void setPasswordBudget(const QByteArray& saved);

  // Each setter saves at once.
  void setFirstName(const QString& name);
  void setLastName(const QString& name);
  void setUnattendedEnabled(bool enabled);
  void setAcceptsUnprovenClients(bool accepts);
  // Stores the picture as a new file and references it; false (profile
  // unchanged) when it cannot be encoded or written.
  bool chooseAvatar(const QImage& image);
  // The same from a picture file; false when it does not read as a picture.
  Q_INVOKABLE bool chooseAvatarFile(const QUrl& file);
  // Forgets the picture; its file stays on disk.
  Q_INVOKABLE void removeAvatar();

  void load();
  Q_INVOKABLE void save();

  // The "LunorRemote" sub-directory, created with its parents if missing.
  QString avatarDirectory() const;
  // The referenced picture, or a null image when absent or unreadable.
  QImage avatarImage() const;
  // Writes the picture as "avatar-XXXXXXXX.png"; the file name, or nothing.
  std::optional<QString> saveAvatar(const QImage& image) const;
  // The picture for a join message: scaled to 96, PNG, standard Base64.
  // Nothing when there is no picture or a conversion fails.
  std::optional<QString> wireAvatar() const;

 Q_SIGNALS:
  void profileChanged();
  void acceptsUnprovenClientsChanged();

 private:
  void update(const UserProfile& next);

  QSettings& settings_;
  QString dataDirectory_;
  UserProfile profile_;
};

// A received avatar may take this much, decoded, and this many pixels a side.
inline constexpr int kMaxWireAvatarBytes = 256 * 1024;
inline constexpr int kMaxWireAvatarSide = 1024;

// Decodes a wire avatar (Base64 of a PNG or JPEG picture); a null image when
// it is not valid Base64, not PNG or JPEG, over the budgets above, or does
// not decode.
QImage decodeWireAvatar(const QString& base64);

}  // namespace lunor
