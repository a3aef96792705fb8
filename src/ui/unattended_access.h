// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The settings screen's hold on the unattended-access password: stores it in
// the secret store, or forgets it. Main thread only.

#include <QObject>
#include <QtQml/qqml.h>

class QSettings;

namespace lunor {

class SecretStore;

class UnattendedAccess final : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(UnattendedAccess)
  QML_UNCREATABLE("Made by the application over its secret store.")

 public:
  // Both are borrowed and must outlive this object.
  UnattendedAccess(SecretStore& secrets, QSettings& settings, QObject* parent = nullptr);

  // Stores the password (and nothing else anywhere: an old copy of its
  // digest in the settings goes).
  Q_INVOKABLE void save(const QString& password);
  // Deletes the stored password and every copy of its digest.
  Q_INVOKABLE void forget();
  // Whether a password is stored (for tests and diagnostics; the screens
  // never say).
  Q_INVOKABLE bool isStored() const;

 private:
  SecretStore& secrets_;
  QSettings& settings_;
};

}  // namespace lunor
