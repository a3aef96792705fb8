// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the unattended-access password lives and the one form in which it
// leaves the machine: the lowercase hexadecimal SHA-256 of its UTF-8 bytes.

#include <optional>

#include <QString>
#include <QStringList>

class QSettings;

namespace lunor {

class SecretStore;

inline constexpr char kUnattendedAccount[] = "unattended-password";
inline constexpr char kUnattendedFallbackService[] = "LunorRemote.unattended";
// Settings key where earlier versions mirrored the digest. The server admits
// whoever presents the digest, so it is as good as the password: it is no
// longer written, and every copy found is removed.
inline constexpr char kUnattendedHashKey[] = "kova.unattended.hash";

// The application identifier, or "LunorRemote.unattended" when there is none.
QString unattendedKeychainService();

// The stored password, or nothing on any error or on bytes that are not UTF-8.
std::optional<QString> loadUnattendedPassword(SecretStore& store);
// Stores the password; an empty one removes the item. Errors are dropped.
void saveUnattendedPassword(SecretStore& store, const QString& password);
// 64 lowercase hexadecimal characters; the empty string is hashed too.
QString unattendedPasswordHash(const QString& password);
// Copies what a host needs to open its room and admit unattended clients
// (the owner key, the host's identity, the known devices, the password)
// from `from` into `to`, for a host that runs where no keyring opens
// (nobody logged in). An item `from` does not have is removed from `to`; one
// it could not read is left as it was there and named in the answer, with
// those that could not be written.
QStringList copyHostSecrets(SecretStore& from, SecretStore& to);
// Removes the digest an earlier version left in the settings, if any.
void removeUnattendedDigestCopy(QSettings& settings);

}  // namespace lunor
