#include "store/linux/secret_store_libsecret.h"

#include <QDir>
#include <QFileInfo>

// libsecret's headers use "signals" as an identifier; Qt keywords are off.
#include <libsecret/secret.h>

namespace lunor {
namespace {

const SecretSchema* schema() {
  static const SecretSchema kSchema = {
      "org.lunor.Remote.Secret",
      SECRET_SCHEMA_NONE,
      {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
       {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
      0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return &kSchema;
}

// A session bus we can reach without autolaunching one.
bool sessionBusExists() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")));
}

KeychainError fromGError(GError* error) {
  const int code = error ? error->code : 0;
  if (error) g_error_free(error);
  Q_UNUSED(code);
  return KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable);
}

}  // namespace

std::optional<KeychainError> LibsecretSecretStore::save(const QString& service,
                                                        const QString& account,
                                                        const QByteArray& data) {
  if (!sessionBusExists()) return KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable);
  remove(service, account);
  const QByteArray s = service.toUtf8();
  const QByteArray a = account.toUtf8();
  SecretValue* value = secret_value_new(data.constData(), data.size(), "application/octet-stream");
  GError* error = nullptr;
  const gboolean stored = secret_password_store_binary_sync(
      schema(), SECRET_COLLECTION_DEFAULT, "Lunor Remote", value, nullptr, &error, "service",
      s.constData(), "account", a.constData(), nullptr);
  secret_value_unref(value);
  if (!stored) return fromGError(error);
  return std::nullopt;
}

SecretStore::ReadResult LibsecretSecretStore::read(const QString& service,
                                                   const QString& account) {
  if (!sessionBusExists()) {
    return {std::nullopt, KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable)};
  }
  const QByteArray s = service.toUtf8();
  const QByteArray a = account.toUtf8();
  GError* error = nullptr;
  SecretValue* value = secret_password_lookup_binary_sync(schema(), nullptr, &error, "service",
                                                          s.constData(), "account", a.constData(),
                                                          nullptr);
  if (error) return {std::nullopt, fromGError(error)};
  if (!value) return {std::nullopt, KeychainError::noData()};
  gsize length = 0;
  const gchar* bytes = secret_value_get(value, &length);
  QByteArray data(bytes, static_cast<qsizetype>(length));
  secret_value_unref(value);
  return {data, {}};
}

void LibsecretSecretStore::remove(const QString& service, const QString& account) {
  if (!sessionBusExists()) return;
  const QByteArray s = service.toUtf8();
  const QByteArray a = account.toUtf8();
  GError* error = nullptr;
  secret_password_clear_sync(schema(), nullptr, &error, "service", s.constData(), "account",
                             a.constData(), nullptr);
  if (error) g_error_free(error);
}

}  // namespace lunor
