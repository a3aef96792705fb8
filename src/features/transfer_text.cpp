// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/transfer_text.h"

#include <algorithm>
#include <cmath>

#include <QLocale>
#include <QVariantMap>

namespace lunor {

QString byteSizeText(int64_t bytes) {
  static const QLocale french(QLocale::French);
  if (bytes < 1000) return QStringLiteral("%1 o").arg(bytes);
  static const char* const units[] = {"Ko", "Mo", "Go", "To"};
  double value = double(bytes);
  int unit = -1;
  while (value >= 999.95 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  // Three significant digits at most: "1,07 Go", "12,3 Ko", "480 Mo".
  const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
  return french.toString(value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QVariantList transferRows(const std::vector<FeatureExchange::Transfer>& transfers) {
  using State = TransferProgress::State;
  QVariantList rows;
  for (const auto& t : transfers) {
    const TransferProgress& p = t.progress;
    QString state, detail;
    switch (p.state) {
      case State::Waiting:
        state = QStringLiteral("waiting");
        detail = t.outgoing ? QStringLiteral("En attente de l’autre ordinateur…") : QStringLiteral("En attente de votre accord…");
        break;
      case State::Running:
        state = QStringLiteral("running");
        detail = QStringLiteral("%1 sur %2").arg(byteSizeText(p.confirmed), byteSizeText(p.size));
        if (p.bytesPerSecond > 0) detail += QStringLiteral(" · %1/s").arg(byteSizeText(int64_t(p.bytesPerSecond)));
        break;
      case State::Done:
        state = QStringLiteral("done");
        detail = (t.outgoing ? QStringLiteral("Envoyé · ") : QStringLiteral("Reçu · ")) + byteSizeText(p.size);
        break;
      case State::Failed:
        state = QStringLiteral("failed");
        detail = QStringLiteral("Échec : ") + p.reason;
        break;
      case State::Cancelled:
        state = QStringLiteral("cancelled");
        detail = QStringLiteral("Annulé");
        break;
      case State::Declined:
        state = QStringLiteral("declined");
        detail = QStringLiteral("Refusé : ") + p.reason;
        break;
      case State::Interrupted:
        state = QStringLiteral("interrupted");
        detail = QStringLiteral("Connexion coupée à %1 sur %2 : reprise à la prochaine connexion")
                     .arg(byteSizeText(p.confirmed), byteSizeText(p.size));
        break;
    }
    const double fraction = p.size > 0 ? std::clamp(double(p.confirmed) / double(p.size), 0.0, 1.0)
                                       : (p.state == State::Done ? 1.0 : 0.0);
    rows.append(QVariantMap{{QStringLiteral("id"), t.id},
                            {QStringLiteral("name"), p.name},
                            {QStringLiteral("outgoing"), t.outgoing},
                            {QStringLiteral("state"), state},
                            {QStringLiteral("fraction"), fraction},
                            {QStringLiteral("detail"), detail},
                            {QStringLiteral("active"), p.state == State::Waiting || p.state == State::Running ||
                                                           p.state == State::Interrupted}});
  }
  return rows;
}

}  // namespace lunor
