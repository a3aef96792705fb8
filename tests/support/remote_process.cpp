// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote_process.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include "store/file_secret_store.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "child_process.h"

namespace lunor::test {

RemoteProcess::RemoteProcess(QString binary, QUrl server, QString display)
    : binary_(std::move(binary)), server_(std::move(server)), display_(std::move(display)) {
  process_.setProcessChannelMode(QProcess::MergedChannels);
}

RemoteProcess::~RemoteProcess() {
  if (process_.state() != QProcess::NotRunning) stop();
}

void RemoteProcess::allowUnattended(const QString& password, const QString& firstName) {
  const QString config = home_.filePath("config");
  const QString data = home_.filePath("data");
  QSettings settings(config + "/LunorRemote/LunorRemote.conf", QSettings::IniFormat);
  UserProfileStore profile(settings, data);
  profile.setFirstName(firstName);
  profile.setUnattendedEnabled(true);
  // The private file: no Secret Service runs in the tests.
  FileSecretStore secrets(data + "/LunorRemote/secrets.json");
  saveUnattendedPassword(secrets, password);
}

bool RemoteProcess::start(const QStringList& arguments) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LUNOR_SIGNALING_URL", server_.toString());
  env.insert("XDG_CONFIG_HOME", home_.filePath("config"));
  env.insert("XDG_DATA_HOME", home_.filePath("data"));
  env.insert("XDG_RUNTIME_DIR", home_.path());
  env.insert("DISPLAY", display_);
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.remove("DBUS_SESSION_BUS_ADDRESS");
  for (const QString& key : overrides_.keys()) env.insert(key, overrides_.value(key));
  process_.setProcessEnvironment(env);
  output_.clear();
  dieWithTest(process_);
  process_.start(binary_, arguments);
  return process_.waitForStarted(10000);
}

bool RemoteProcess::startUnattendedHost(const QString& password) {
  allowUnattended(password);
  return start({QStringLiteral("--headless-host")}) && !roomId().isEmpty() &&
         waitForOutput(QStringLiteral("unattended=true"));
}

bool RemoteProcess::startClient(const QString& room, const QString& password, const QStringList& more) {
  QStringList arguments{QStringLiteral("--headless-client"), room};
  if (!password.isNull()) arguments << QStringLiteral("--password-file") << passwordFile(password);
  return start(arguments + more);
}

QString RemoteProcess::passwordFile(const QString& password) {
  QFile file(home_.filePath("password"));
  if (file.open(QIODevice::WriteOnly)) file.write(password.toUtf8() + "\n");
  return file.fileName();
}

int RemoteProcess::exitCode(int timeoutMs) {
  if (!QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; }, timeoutMs)) return -1;
  return process_.exitCode();
}

QString RemoteProcess::output() {
  output_ += process_.readAll();
  return QString::fromUtf8(output_);
}

bool RemoteProcess::waitForOutput(const QString& text, int timeoutMs) {
  return QTest::qWaitFor([&] { return output().contains(text); }, timeoutMs);
}

QString RemoteProcess::roomId(int timeoutMs) {
  static const QRegularExpression idLine(QStringLiteral("ID de session : (\\d{9})"));
  QString id;
  std::ignore = QTest::qWaitFor(
      [&] {
        const auto match = idLine.match(output());
        if (match.hasMatch()) id = match.captured(1);
        return !id.isEmpty();
      },
      timeoutMs);
  return id;
}

int RemoteProcess::stop() {
  process_.terminate();
  if (!process_.waitForFinished(20000)) {
    process_.kill();
    process_.waitForFinished(5000);
    return -1;
  }
  output();
  return process_.exitCode();
}

}  // namespace lunor::test
