#include "app/default_environment.h"

#include "host/control_injector.h"
#include "session/rtc/webrtc/webrtc_factory.h"
#include <QDir>
#include <QStandardPaths>

#include "store/address_book.h"
#include "store/file_secret_store.h"
#include "store/linux/secret_store_libsecret.h"
#include "store/secret_store.h"
#include "store/user_profile_store.h"
#include "system/notification_manager.h"
#include "ui/session_panels.h"

namespace lunor {

DefaultEnvironment::DefaultEnvironment()
    : panels_(std::make_unique<NullSessionPanels>()),
      addressBook_(std::make_unique<NullAddressBook>()),
      notifications_(std::make_unique<NullNotificationManager>()) {
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  profile_ = std::make_unique<UserProfileStore>(settings_, dataHome);
  serviceSecrets_ = std::make_unique<LibsecretSecretStore>();
  fileSecrets_ = std::make_unique<FileSecretStore>(
      QDir(dataHome).filePath(QStringLiteral("LunorRemote/secrets.json")));
  secrets_ = std::make_unique<FallbackSecretStore>(*serviceSecrets_, *fileSecrets_);
}

DefaultEnvironment::~DefaultEnvironment() = default;

std::unique_ptr<rtc::PeerConnectionFactory> DefaultEnvironment::createRtcFactory() {
  return rtc::createWebRtcFactory();
}

std::unique_ptr<ControlInjector> DefaultEnvironment::createControlInjector() {
  return std::make_unique<NullControlInjector>();
}

std::unique_ptr<ScreenCapturer> DefaultEnvironment::createScreenCapturer(
    std::shared_ptr<rtc::VideoSource>) {
  return nullptr;  // the X11 capturer comes with the Linux host work
}

std::vector<DisplayDescription> DefaultEnvironment::displays() { return {}; }

uint32_t DefaultEnvironment::mainDisplayId() { return 0; }

SignalingEndpoint DefaultEnvironment::signalingEndpoint() {
  return lunor::signalingEndpoint(settings_);
}

rtc::Configuration DefaultEnvironment::peerConfiguration() {
  return lunor::peerConfiguration(settings_);
}

}  // namespace lunor
