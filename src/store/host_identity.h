// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the host keeps in the secret store for the password's proof: its
// long-term identity, made on first use, and the digests of the device keys
// it gave the clients that proved the password. Any thread (the secret
// store's calls block).

#include <optional>
#include <vector>

#include <QByteArray>

#include "protocol/password_proof.h"

namespace lunor {

class SecretStore;

inline constexpr char kHostIdentityAccount[] = "host-identity";
inline constexpr char kKnownDevicesAccount[] = "proof-devices";
inline constexpr size_t kKnownDevicesKept = 32;

// The identity kept, or a new one kept from now on (also in place of one
// that does not read back); nothing when the store cannot be read.
std::optional<proof::Identity> hostIdentity(SecretStore& store);
// Oldest first; none on any error.
std::vector<QByteArray> knownDevices(SecretStore& store);
// Adds one at the end; past kKnownDevicesKept the oldest go.
void addKnownDevice(SecretStore& store, const QByteArray& digest);
void forgetKnownDevices(SecretStore& store);

}  // namespace lunor
