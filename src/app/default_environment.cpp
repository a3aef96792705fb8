#include "app/default_environment.h"

#include "host/control_injector.h"
#include "session/rtc/webrtc/webrtc_factory.h"
#include "store/address_book.h"
#include "system/notification_manager.h"
#include "ui/session_panels.h"

namespace lunor {

DefaultEnvironment::DefaultEnvironment()
    : panels_(std::make_unique<NullSessionPanels>()),
      addressBook_(std::make_unique<NullAddressBook>()),
      notifications_(std::make_unique<NullNotificationManager>()) {}

DefaultEnvironment::~DefaultEnvironment() = default;

std::unique_ptr<rtc::PeerConnectionFactory> DefaultEnvironment::createRtcFactory() {
  return rtc::createWebRtcFactory();
}

std::unique_ptr<ControlInjector> DefaultEnvironment::createControlInjector() {
  return std::make_unique<NullControlInjector>();
}

SignalingEndpoint DefaultEnvironment::signalingEndpoint() {
  return lunor::signalingEndpoint(settings_);
}

rtc::Configuration DefaultEnvironment::peerConfiguration() {
  return lunor::peerConfiguration(settings_);
}

}  // namespace lunor
