// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/linux/secret_store_libsecret.h"

// libsecret's headers use "signals" as an identifier; Qt keywords are off.
#include <libsecret/secret.h>

#include "system/session_bus.h"

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

// No Secret Service on the bus (none runs, none can be started) is told
// apart from one that is there and fails (locked, a prompt dismissed, no
// answer in time): only the first lets the private file stand in.
KeychainError fromGError(GError* error) {
  bool absent = !error;
  if (error && error->domain == G_IO_ERROR) {
    // A bus address that leads nowhere (a dead socket, a stale variable).
    switch (error->code) {
      case G_IO_ERROR_NOT_FOUND:
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_CLOSED:
      case G_IO_ERROR_BROKEN_PIPE:
        absent = true;
        break;
      default: break;
    }
  } else if (error && error->domain == G_DBUS_ERROR) {
    switch (error->code) {
      case G_DBUS_ERROR_SERVICE_UNKNOWN:
      case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
      case G_DBUS_ERROR_NO_SERVER:
      case G_DBUS_ERROR_DISCONNECTED:
      case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
      case G_DBUS_ERROR_SPAWN_FORK_FAILED:
      case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
      case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
      case G_DBUS_ERROR_SPAWN_FAILED:
      case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
      case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
      case G_DBUS_ERROR_SPAWN_PERMISSIONS_INVALID:
      case G_DBUS_ERROR_SPAWN_FILE_INVALID:
      case G_DBUS_ERROR_SPAWN_NO_MEMORY:
        absent = true;
        break;
      default: break;
    }
  }
  if (error) g_error_free(error);
  return KeychainError::unexpectedStatus(absent ? KeychainError::kStatusNotAvailable : KeychainError::kStatusFailed);
}

}  // namespace

std::optional<KeychainError> LibsecretSecretStore::save(const QString& service,
                                                        const QString& account,
                                                        const QByteArray& data) {
  if (!sessionBusExists()) return KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable);
  // Storing replaces an item with the same attributes: nothing is removed
  // first, so a store that fails leaves the old secret where it was.
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
  if (!value) {
    // Nothing came back: nothing is there, or it is there and stayed locked
    // (the unlock prompt was dismissed). Looking without unlocking tells.
    GList* items = secret_password_search_sync(schema(), SECRET_SEARCH_ALL, nullptr, &error, "service",
                                               s.constData(), "account", a.constData(), nullptr);
    if (error) return {std::nullopt, fromGError(error)};
    const bool there = items != nullptr;
    g_list_free_full(items, g_object_unref);
    return {std::nullopt, there ? KeychainError::unexpectedStatus(KeychainError::kStatusFailed) : KeychainError::noData()};
  }
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
