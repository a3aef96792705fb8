#pragma once

// Everything a session needs from the platform and from the rest of the
// application, in one place so tests can swap all of it at once. The
// environment is borrowed by every session and must outlive them.

#include <cstdint>
#include <memory>
#include <vector>

#include "host/display_list.h"
#include "host/screen_capturer.h"
#include "rtc/peer_connection.h"
#include "session/service_config.h"

class QSettings;

namespace lunor {

class AddressBook;
class ControlInjector;
class EventSound;
class NotificationManager;
class SecretStore;
class SessionPanels;
class UserProfileStore;

class SessionEnvironment {
 public:
  virtual ~SessionEnvironment() = default;

  // A new peer connection factory (one per session); null when the library fails.
  virtual std::unique_ptr<rtc::PeerConnectionFactory> createRtcFactory() = 0;
  // The last stage of the host's input chain.
  virtual std::unique_ptr<ControlInjector> createControlInjector() = 0;
  // A capturer feeding `source`.
  virtual std::unique_ptr<ScreenCapturer> createScreenCapturer(
      std::shared_ptr<rtc::VideoSource> source) = 0;
  // The displays as they are now (identifier, pixel size, desktop bounds).
  // Any thread.
  virtual DisplayList& displays() = 0;
  // Whether this program may drive the mouse and keyboard. Any thread.
  virtual bool mayControlComputer() = 0;

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

  virtual SignalingEndpoint signalingEndpoint() = 0;
  virtual rtc::Configuration peerConfiguration() = 0;
};

}  // namespace lunor
