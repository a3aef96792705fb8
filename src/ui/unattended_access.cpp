#include "ui/unattended_access.h"

#include <QSettings>

#include "store/unattended_password.h"

namespace lunor {

UnattendedAccess::UnattendedAccess(SecretStore& secrets, QSettings& settings, QObject* parent)
    : QObject(parent), secrets_(secrets), settings_(settings) {}

void UnattendedAccess::save(const QString& password) {
  saveUnattendedPassword(secrets_, password);
  settings_.setValue(QString::fromLatin1(kUnattendedHashKey), unattendedPasswordHash(password));
  settings_.sync();
}

void UnattendedAccess::forget() { saveUnattendedPassword(secrets_, QString()); }

bool UnattendedAccess::isStored() const { return loadUnattendedPassword(secrets_).has_value(); }

}  // namespace lunor
