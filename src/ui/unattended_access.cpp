// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/unattended_access.h"

#include <QSettings>

#include "store/unattended_password.h"

namespace lunor {

UnattendedAccess::UnattendedAccess(SecretStore& secrets, QSettings& settings, QObject* parent)
    : QObject(parent), secrets_(secrets), settings_(settings) {}

void UnattendedAccess::save(const QString& password) {
  saveUnattendedPassword(secrets_, password);
  removeUnattendedDigestCopy(settings_);
}

void UnattendedAccess::forget() {
  saveUnattendedPassword(secrets_, QString());
  removeUnattendedDigestCopy(settings_);
}

bool UnattendedAccess::isStored() const { return loadUnattendedPassword(secrets_).has_value(); }

}  // namespace lunor
