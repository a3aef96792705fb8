#pragma once

// Where the unattended-access password lives and the one form in which it
// leaves the machine: the lowercase hexadecimal SHA-256 of its UTF-8 bytes.

#include <optional>

#include <QString>

namespace lunor {

class SecretStore;

inline constexpr char kUnattendedAccount[] = "unattended-password";
inline constexpr char kUnattendedFallbackService[] = "LunorRemote.unattended";
// Settings key where the settings screen mirrors the digest.
inline constexpr char kUnattendedHashKey[] = "kova.unattended.hash";

// The application identifier, or "LunorRemote.unattended" when there is none.
QString unattendedKeychainService();

// The stored password, or nothing on any error or on bytes that are not UTF-8.
std::optional<QString> loadUnattendedPassword(SecretStore& store);
// Stores the password; an empty one removes the item. Errors are dropped.
void saveUnattendedPassword(SecretStore& store, const QString& password);
// 64 lowercase hexadecimal characters; the empty string is hashed too.
QString unattendedPasswordHash(const QString& password);

}  // namespace lunor
