// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Everything a session needs from the platform and from the rest of the
// application, in one place so tests can swap all of it at once. The
// environment is borrowed by every session and must outlive them.

#include <functional>
#include <memory>

#include "rtc/peer_connection.h"
#include "session/clock.h"
#include "session/connection_features.h"
#include "session/service_config.h"
#include "session/session_types.h"

class QSettings;

namespace lunor {

class AddressBook;
class Clipboard;
class EventSound;
class Negotiation;
class NotificationManager;
class SecretStore;
class SessionPanels;
class UserProfileStore;

class SessionEnvironment {
 public:
  virtual ~SessionEnvironment() = default;

  // A new peer connection factory (one per session); null when the library fails.
  virtual std::unique_ptr<rtc::PeerConnectionFactory> createRtcFactory() = 0;
  // What a session does over its connection beyond picture and input (files,
  // the clipboard), on `negotiation`'s channels. All borrowed; `requester`
  // names whoever the host let in.
  virtual std::unique_ptr<ConnectionFeatures> createFeatures(Negotiation& negotiation,
                                                             std::function<void(const QString&)> log,
                                                             std::function<QString()> requester) = 0;

  virtual SessionPanels& panels() = 0;
  virtual AddressBook& addressBook() = 0;
  virtual NotificationManager& notifications() = 0;
  virtual EventSound& sounds() = 0;
  // The per-user settings store.
  virtual QSettings& settings() = 0;
  // The local user's profile (names, picture, unattended switch).
  virtual UserProfileStore& profileStore() = 0;
  // Where the unattended password is kept.
  virtual SecretStore& secretStore() = 0;
  // The local clipboard, shared by every session of the process.
  virtual Clipboard& clipboard() = 0;

  virtual SignalingEndpoint signalingEndpoint() = 0;
  // The time sessions go by.
  virtual Clock& clock() { return Clock::steady(); }
  virtual rtc::Configuration peerConfiguration() = 0;
};

}  // namespace lunor
