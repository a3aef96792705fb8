// SPDX-License-Identifier: GPL-3.0-or-later
// The screens' QML tests (qml/tst_*.qml), on a private X server, with real
// stores in a throw-away directory, an in-memory secret store and a session
// over the scripted WebRTC fake.

#include <memory>

#include <QQmlEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

#include "gui_test_main.h"
#include "session_probe.h"
#include "store/address_book_store.h"
#include "store/fake_secret_store.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "ui/directory_model.h"
#include "ui/image_providers.h"
#include "ui/unattended_access.h"

Q_IMPORT_QML_PLUGIN(Lunor_ClientPlugin)
Q_IMPORT_QML_PLUGIN(Lunor_UiPlugin)

namespace lunor::test {

// What the QML tests are given, as the singleton Fixture of Lunor.Test.
class Fixture final : public QObject {
  Q_OBJECT
  Q_PROPERTY(lunor::DirectoryModel* directory READ directory NOTIFY reset)
  Q_PROPERTY(lunor::UserProfileStore* profile READ profile NOTIFY reset)
  Q_PROPERTY(lunor::UnattendedAccess* unattended READ unattended NOTIFY reset)
  Q_PROPERTY(lunor::RemoteSession* session READ session NOTIFY reset)

 public:
  Fixture() { renew(); }

  DirectoryModel* directory() const { return directory_.get(); }
  UserProfileStore* profile() const { return profile_.get(); }
  UnattendedAccess* unattended() const { return unattended_.get(); }
  RemoteSession* session() const { return &scripted_->session; }

  // Everything fresh: empty book, empty profile, no password.
  Q_INVOKABLE void renew() {
    scripted_.reset();
    unattended_.reset();
    directory_.reset();
    book_.reset();
    profile_.reset();
    settings_.reset();
    dir_ = std::make_unique<QTemporaryDir>();
    settings_ = std::make_unique<QSettings>(dir_->filePath("settings.ini"), QSettings::IniFormat);
    profile_ = std::make_unique<UserProfileStore>(*settings_, dir_->filePath("data"));
    book_ = std::make_unique<AddressBookStore>(dir_->filePath("data"));
    directory_ = std::make_unique<DirectoryModel>(*book_);
    secrets_.items.clear();
    unattended_ = std::make_unique<UnattendedAccess>(secrets_, *settings_);
    scripted_ = std::make_unique<ScriptedSession>();
    Q_EMIT reset();
  }
  Q_INVOKABLE void recordConnection(const QString& sessionId) { book_->recordSuccess(sessionId, QString()); }
  // The scripted signaling server the session talks to.
  Q_INVOKABLE int serverClients() const { return scripted_->server.openClients(); }
  Q_INVOKABLE void serverSend(const QVariantMap& message) { scripted_->server.sendJson(QJsonObject::fromVariantMap(message)); }
  // The settings file as it is on disk, and the digest of a password.
  Q_INVOKABLE QString settingsFileText() const {
    settings_->sync();
    QFile file(dir_->filePath("settings.ini"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  Q_INVOKABLE QString digest(const QString& password) const { return unattendedPasswordHash(password); }
  // What an earlier version left in the settings.
  Q_INVOKABLE void storeLegacyDigest(const QString& password) {
    settings_->setValue(QLatin1String(kUnattendedHashKey), unattendedPasswordHash(password));
    settings_->sync();
  }
  Q_INVOKABLE void storePassword(const QString& password) { saveUnattendedPassword(secrets_, password); }
  // The stored password, or null.
  Q_INVOKABLE QVariant storedPassword() {
    const auto password = loadUnattendedPassword(secrets_);
    return password ? QVariant(*password) : QVariant();
  }
  // The first name as a fresh read of the settings file has it.
  Q_INVOKABLE QString savedFirstName() const {
    QSettings reread(dir_->filePath("settings.ini"), QSettings::IniFormat);
    return UserProfileStore(reread, dir_->filePath("data")).firstName();
  }

 Q_SIGNALS:
  void reset();

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QSettings> settings_;
  std::unique_ptr<UserProfileStore> profile_;
  std::unique_ptr<AddressBookStore> book_;
  std::unique_ptr<DirectoryModel> directory_;
  FakeSecretStore secrets_;
  std::unique_ptr<UnattendedAccess> unattended_;
  std::unique_ptr<ScriptedSession> scripted_;
};

class Setup final : public QObject {
  Q_OBJECT
 public Q_SLOTS:
  void qmlEngineAvailable(QQmlEngine* engine) {
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine->addImageProvider(QStringLiteral("icon"), new IconProvider);
    qmlRegisterSingletonInstance("Lunor.Test", 1, 0, "Fixture", &fixture_);
  }

 private:
  Fixture fixture_;
};

}  // namespace lunor::test

int main(int argc, char** argv) {
  const auto display = lunor::test::startGuiDisplay(argc, argv);
  if (!display) return 1;
  QQuickStyle::setStyle(QStringLiteral("Basic"));
  lunor::test::Setup setup;
  return quick_test_main_with_setup(argc, argv, "ui", LUNOR_QML_TESTS, &setup);
}

#include "ui_quick_test.moc"
