// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The JSON objects a test peer has received, taken by type.

#include <algorithm>
#include <tuple>

#include <QJsonObject>
#include <QList>
#include <QTest>

namespace lunor::test {

struct Inbox {
  // Waits for the next message of `type` not yet taken; an empty object on timeout.
  QJsonObject take(const QString& type, int timeoutMs = 5000) {
    QJsonObject found;
    std::ignore = QTest::qWaitFor(
        [&] {
          for (qsizetype i = 0; i < received.size(); ++i) {
            if (received[i].value("type").toString() == type) {
              found = received.takeAt(i);
              return true;
            }
          }
          return false;
        },
        timeoutMs);
    return found;
  }
  bool has(const QString& type) const {
    return std::any_of(received.begin(), received.end(),
                       [&](const QJsonObject& o) { return o.value("type").toString() == type; });
  }

  QList<QJsonObject> received;
};

}  // namespace lunor::test
