// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The key that proves to the signaling server that this machine owns its
// session ID: 256 random bits, made once, kept in the secret store, sent in
// every "create" (the server keeps only its digest).

#include <optional>

#include <QString>

namespace lunor {

class SecretStore;

inline constexpr char kOwnerKeyService[] = "LunorRemote.owner";
inline constexpr char kOwnerKeyAccount[] = "owner-key";

// The stored key, or a new one (stored) when there is none or what is stored
// is not a key. Even when storing fails the new key is returned: the room
// works for this run, and the next run tries again. Nothing when the store
// could not be read (locked, not answering): a key may well be there, and
// writing a new one would lose the ID to it; the caller tries again later.
std::optional<QString> ownerKey(SecretStore& store);

}  // namespace lunor
