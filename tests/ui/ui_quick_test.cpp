// SPDX-License-Identifier: GPL-3.0-or-later
// The screens' QML tests (qml/tst_*.qml) on a private X server: real stores in
// a throw-away folder, an in-memory secret store, a session over fake WebRTC.

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
  Q_PROPERTY(lunor::ClientSession* session READ session NOTIFY reset)

 public:
  Fixture() { renew(); }

  DirectoryModel* directory() const { return &s_->directory; }
  UserProfileStore* profile() const { return &s_->profile; }
  UnattendedAccess* unattended() const { return &s_->unattended; }
  ClientSession* session() const { return &s_->scripted.client(); }

  // Everything fresh: empty book, empty profile, no password.
  Q_INVOKABLE void renew() {
    s_.reset();
    s_ = std::make_unique<State>();
    Q_EMIT reset();
  }
  Q_INVOKABLE void recordConnection(const QString& sessionId) { s_->book.recordSuccess(sessionId, QString()); }
  // The scripted signaling server the session talks to.
  Q_INVOKABLE int serverClients() const { return s_->scripted.server.openClients(); }
  Q_INVOKABLE void serverSend(const QVariantMap& message) {
    s_->scripted.server.sendJson(QJsonObject::fromVariantMap(message));
  }
  // The settings file as it is on disk, and the digest of a password.
  Q_INVOKABLE QString settingsFileText() const {
    s_->settings.sync();
    QFile file(s_->settings.fileName());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  Q_INVOKABLE QString digest(const QString& password) const { return unattendedPasswordHash(password); }
  // What an earlier version left in the settings.
  Q_INVOKABLE void storeLegacyDigest(const QString& password) {
    s_->settings.setValue(QLatin1String(kUnattendedHashKey), unattendedPasswordHash(password));
    s_->settings.sync();
  }
  Q_INVOKABLE void storePassword(const QString& password) { saveUnattendedPassword(s_->secrets, password); }
  // The stored password, or null.
  Q_INVOKABLE QVariant storedPassword() {
    const auto password = loadUnattendedPassword(s_->secrets);
    return password ? QVariant(*password) : QVariant();
  }
  // The first name as a fresh read of the settings file has it.
  Q_INVOKABLE QString savedFirstName() const {
    QSettings reread(s_->settings.fileName(), QSettings::IniFormat);
    return UserProfileStore(reread, s_->dir.filePath("data")).firstName();
  }

 Q_SIGNALS:
  void reset();

 private:
  // Made in this order, undone in the reverse one.
  struct State {
    QTemporaryDir dir;
    QSettings settings{dir.filePath("settings.ini"), QSettings::IniFormat};
    UserProfileStore profile{settings, dir.filePath("data")};
    AddressBookStore book{dir.filePath("data")};
    DirectoryModel directory{book};
    FakeSecretStore secrets;
    UnattendedAccess unattended{secrets, settings};
    ScriptedSession scripted;
  };
  std::unique_ptr<State> s_;
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
