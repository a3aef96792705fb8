// SPDX-License-Identifier: GPL-3.0-or-later
#include "turn_credentials.h"

#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>

namespace lunor::signal {

QString turnPassword(const QByteArray& secret, const QString& username) {
  return QString::fromLatin1(
      QMessageAuthenticationCode::hash(username.toUtf8(), secret, QCryptographicHash::Sha1).toBase64());
}

QStringList turnUrlVariants(const QStringList& urls, int tlsPort, QString* bad) {
  static const QRegularExpression kTurn(QStringLiteral(R"(^(turns?):(\[[0-9a-fA-F:.]+\]|[^:?/\s]+)(:(\d{1,5}))?(\?transport=(udp|tcp))?$)"));
  QStringList variants;
  const auto add = [&](const QString& url) {
    if (!variants.contains(url)) variants << url;
  };
  for (const QString& url : urls) {
    const QRegularExpressionMatch match = kTurn.match(url.trimmed());
    if (!match.hasMatch()) {
      if (bad) *bad = url;
      return {};
    }
    const QString scheme = match.captured(1), host = match.captured(2);
    const QString port = match.captured(4).isEmpty() ? QStringLiteral("3478") : match.captured(4);
    if (!match.captured(5).isEmpty() || scheme == QLatin1String("turns")) {
      add(url.trimmed());
    } else {
      add(QStringLiteral("turn:%1:%2?transport=udp").arg(host, port));
      add(QStringLiteral("turn:%1:%2?transport=tcp").arg(host, port));
    }
    if (tlsPort > 0) add(QStringLiteral("turns:%1:%2?transport=tcp").arg(host).arg(tlsPort));
  }
  return variants;
}

std::vector<rtc::IceServer> turnIceServers(const TurnConfig& config, const QString& clientId) {
  if (config.urls.isEmpty() || config.secret.isEmpty()) return {};
  const qint64 now = config.nowSeconds ? config.nowSeconds() : QDateTime::currentSecsSinceEpoch();
  const QString username = QString::number(now + config.ttlSeconds) + QLatin1Char(':') + clientId;
  rtc::IceServer server{{}, username.toStdString(), turnPassword(config.secret, username).toStdString()};
  for (const QString& url : config.urls) server.urls.push_back(url.toStdString());
  return {server};
}

}  // namespace lunor::signal
