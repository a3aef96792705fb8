#pragma once

// The key that proves to the signaling server that this machine owns its
// session ID: 256 random bits, made once, kept in the secret store, sent in
// every "create" (the server keeps only its digest).

#include <QString>

namespace lunor {

class SecretStore;

inline constexpr char kOwnerKeyService[] = "LunorRemote.owner";
inline constexpr char kOwnerKeyAccount[] = "owner-key";

// The stored key, or a new one (stored) when there is none or it is not one
// of ours. Even when storing fails the key is returned: the room works for
// this run, and the next run tries again.
QString ownerKey(SecretStore& store);

// True for 64 lowercase hexadecimal characters.
bool isOwnerKeyText(const QString& key);

}  // namespace lunor
