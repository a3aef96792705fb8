#pragma once

// The server's log: one "key=value" line per event on standard output,
// with the time first. Never passwords, digests, names or pictures.

#include <QList>
#include <QPair>
#include <QString>

namespace lunor::signal {

using LogFields = QList<QPair<QString, QString>>;

void logEvent(const QString& event, const LogFields& fields = {});

}  // namespace lunor::signal
