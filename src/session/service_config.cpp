// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/service_config.h"

#include <QHostAddress>
#include <QSettings>

namespace lunor {
namespace {

QString overridable(const QSettings& settings, const char* env, const char* key,
                    const char* fallback) {
  const QString fromEnv = qEnvironmentVariable(env).trimmed();
  if (!fromEnv.isEmpty()) return fromEnv;
  const QString fromSettings = settings.value(QLatin1String(key)).toString().trimmed();
  if (!fromSettings.isEmpty()) return fromSettings;
  return QString::fromLatin1(fallback);
}

}  // namespace

SignalingEndpoint signalingEndpoint(const QSettings& settings) {
  SignalingEndpoint endpoint;
  endpoint.url =
      QUrl(overridable(settings, kSignalingUrlEnv, kSignalingUrlKey, kDefaultSignalingUrl));
  endpoint.extraCaFile = settings.value(QLatin1String(kSignalingCaFileKey)).toString().trimmed();
  return endpoint;
}

rtc::Configuration peerConfiguration(const QSettings& settings) {
  rtc::Configuration config;
  config.unifiedPlan = true;
  config.gatherContinually = true;
  config.tcpCandidates = false;
  config.iceTransportPolicy =
      overridable(settings, kTransportPolicyEnv, kTransportPolicyKey, "all") == QLatin1String("relay")
          ? rtc::IceTransportPolicy::Relay
          : rtc::IceTransportPolicy::All;
  const QString stun = overridable(settings, kStunUrlEnv, kStunUrlKey, kDefaultStunUrl);
  const QString turn = overridable(settings, kTurnUrlEnv, kTurnUrlKey, kDefaultTurnUrl);
  config.iceServers.push_back({{stun.toStdString()}, {}, {}});
  // A relay named without a transport is tried over UDP and TCP: networks
  // that block UDP (offices, hotels) still reach it.
  std::vector<std::string> turnUrls{turn.toStdString()};
  if (turn.startsWith(QLatin1String("turn:")) && !turn.contains(QLatin1Char('?'))) {
    turnUrls = {(turn + QStringLiteral("?transport=udp")).toStdString(),
                (turn + QStringLiteral("?transport=tcp")).toStdString()};
  }
  config.iceServers.push_back({turnUrls, kTurnUsername, kTurnCredential});
  return config;
}

bool isLoopbackHost(const QString& host) {
  if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
  QHostAddress address;
  if (!address.setAddress(host)) return false;
  return address.isLoopback();
}

std::optional<QString> signalingUrlProblem(const QUrl& url) {
  if (!url.isValid() || url.host().isEmpty()) {
    return QStringLiteral("adresse invalide: %1").arg(url.toString());
  }
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("wss")) return std::nullopt;
  if (scheme == QLatin1String("ws")) {
    if (isLoopbackHost(url.host())) return std::nullopt;
    return QStringLiteral("ws:// non chiffré refusé pour %1 (wss:// requis)").arg(url.host());
  }
  return QStringLiteral("schéma non pris en charge: %1").arg(url.scheme());
}

}  // namespace lunor
