// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the unattended-access password lives and the one form in which it
// leaves the machine: the lowercase hexadecimal SHA-256 of its UTF-8 bytes.

#include <optional>

#include <QString>

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
// Removes the digest an earlier version left in the settings, if any.
void removeUnattendedDigestCopy(QSettings& settings);

}  // namespace lunor
