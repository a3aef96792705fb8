// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal: the signaling server Lunor Remote hosts and clients meet on.

#include <cmath>
#include <cstdio>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSslCertificate>
#include <QSslKey>

#include <functional>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>


#include "epoll_dispatcher.h"
#include "event_log.h"
#include "owner_store.h"
#include "redis_cluster.h"
#include "redis_link.h"
#include "signal_server.h"
#include "turn_credentials.h"
#include "system/descriptor_limit.h"
#include "system/unix_signals.h"

namespace {

std::optional<QSslConfiguration> loadTls(const QString& certPath, const QString& keyPath,
                                         QString* error) {
  const auto chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
  if (chain.isEmpty()) {
    *error = QStringLiteral("no certificate in %1").arg(certPath);
    return std::nullopt;
  }
  QFile keyFile(keyPath);
  if (!keyFile.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("cannot read %1").arg(keyPath);
    return std::nullopt;
  }
  const QByteArray pem = keyFile.readAll();
  QSslKey key(pem, QSsl::Rsa, QSsl::Pem);
  if (key.isNull()) key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
  if (key.isNull()) {
    *error = QStringLiteral("no RSA or EC private key in %1").arg(keyPath);
    return std::nullopt;
  }
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setLocalCertificateChain(chain);
  tls.setPrivateKey(key);
  tls.setPeerVerifyMode(QSslSocket::VerifyNone);  // clients are not asked for certificates
  tls.setProtocol(QSsl::TlsV1_2OrLater);
  return tls;
}

// A secret kept in a file (TURN's, Redis's password), trimmed; nothing, with
// the message said, when the file cannot be read.
std::optional<QByteArray> readSecretFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "lunor-signal: cannot read %s\n", qPrintable(path));
    return std::nullopt;
  }
  return file.readAll().trimmed();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // Thousands of idle connections: the loop waits on epoll, not poll().
  // LUNOR_SIGNAL_DISPATCHER=qt keeps Qt's own (for comparison).
  if (qgetenv("LUNOR_SIGNAL_DISPATCHER") != "qt") {
    auto* dispatcher = new lunor::signal::EpollEventDispatcher;
    if (dispatcher->isValid()) {
      QCoreApplication::setEventDispatcher(dispatcher);
    } else {
      delete dispatcher;
    }
  }
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("lunor-signal"));
  QCoreApplication::setApplicationVersion(QStringLiteral(LUNOR_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Signaling server for Lunor Remote: rooms, join approval, unattended access and "
      "relay of WebRTC negotiation between a host and its client.\n"
      "Serves ws://ADDRESS:PORT/signal on loopback, or wss:// on any address when given a "
      "certificate and key."));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption listenOption(QStringList{"l", "listen"},
                                  QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
  QCommandLineOption portOption(QStringList{"p", "port"},
                                QStringLiteral("Port to listen on; 0 picks a free one (default 8787)."),
                                QStringLiteral("port"), QStringLiteral("8787"));
  QCommandLineOption certOption(QStringLiteral("cert"),
                                QStringLiteral("PEM certificate chain for wss://."),
                                QStringLiteral("file"));
  QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("PEM private key for wss://."),
                               QStringLiteral("file"));
  QCommandLineOption webOption(QStringLiteral("web-root"),
                               QStringLiteral("Folder of the web client served at / (default: share/lunor-signal/web "
                                              "beside the program, when there is one; \"\" serves none)."),
                               QStringLiteral("folder"));
  parser.addOptions({listenOption, portOption, certOption, keyOption, webOption});

  // Every bound of ServerLimits, with its default.
  lunor::signal::ServerLimits limits;
  struct Bound {
    const char* name;
    const char* help;
    std::function<QString()> get;
    std::function<bool(const QString&)> set;  // false for a value out of range
  };
  auto intBound = [](const char* name, const char* help, auto& field) {
    using Field = std::remove_reference_t<decltype(field)>;
    return Bound{name, help, [&field] { return QString::number(field); }, [&field](const QString& text) {
                   bool ok = false;
                   const qint64 v = text.toLongLong(&ok);
                   if (!ok || v <= 0 || v > std::numeric_limits<Field>::max()) return false;
                   field = static_cast<Field>(v);
                   return true;
                 }};
  };
  auto realBound = [](const char* name, const char* help, double& field, double least) {
    return Bound{name, help, [&field] { return QString::number(field); }, [&field, least](const QString& text) {
                   bool ok = false;
                   const double v = text.toDouble(&ok);
                   if (!ok || !std::isfinite(v) || v < least || v <= 0) return false;
                   field = v;
                   return true;
                 }};
  };
  const std::vector<Bound> bounds{
      intBound("max-message-bytes", "Size of one message.", limits.maxMessageBytes),
      intBound("max-display-name-chars", "Characters of a join's display name; the rest is cut.",
               limits.maxDisplayNameChars),
      intBound("max-room-id-chars", "Characters of a room ID.", limits.maxRoomIdChars),
      intBound("max-avatar-bytes", "Size of a join's picture (Base64); larger ones are dropped.",
               limits.maxAvatarBytes),
      realBound("messages-per-second", "Messages a connection may send a second, sustained (fractions allowed).",
                limits.messagesPerSecond, 0),
      realBound("burst-messages", "Messages a connection may send at once above that rate (at least 1).",
                limits.burstMessages, 1),
      intBound("dropped-before-close", "Messages dropped over the rate before the connection is closed.",
               limits.droppedBeforeClose),
      intBound("max-connections-per-address", "Connections from one address, counted from the TCP accept.",
               limits.maxConnectionsPerAddress),
      intBound("max-connections", "Connections in all.", limits.maxConnections),
      intBound("listen-backlog", "Connections the kernel queues before they are accepted.", limits.listenBacklog),
      intBound("handshake-timeout-ms", "Time for the TLS and WebSocket handshakes.", limits.handshakeTimeoutMs),
      intBound("first-message-timeout-ms", "Time for a connection's first message.", limits.firstMessageTimeoutMs),
      intBound("max-unsent-bytes", "Bytes queued for a connection that does not read before it is closed.",
               limits.maxUnsentBytes),
      intBound("ping-interval-ms", "Interval of the server's pings.", limits.pingIntervalMs),
      intBound("silence-timeout-ms", "A connection silent this long (no message, no pong) is dropped.",
               limits.silenceTimeoutMs),
      intBound("max-pending-joins", "Join requests waiting in one room.", limits.maxPendingJoinsPerRoom),
      intBound("max-join-requests-per-minute", "Join requests one host is shown in a minute.",
               limits.maxJoinRequestsPerRoomPerMinute),
      intBound("join-cooldown-ms", "Time between two joins of one connection.", limits.joinCooldownMs),
      intBound("rejected-cooldown-ms", "Time before a refused connection may knock at that room again.",
               limits.rejectedCooldownMs),
      intBound("max-room-ids-per-minute", "Distinct room IDs one address may ask for in a minute.",
               limits.maxRoomIdsPerAddressPerMinute),
      intBound("free-failures-per-address", "Wrong passwords from one address before back-off.",
               limits.freeFailuresPerAddress),
      intBound("free-failures-per-room-address", "Wrong passwords from one address for one room before back-off.",
               limits.freeFailuresPerRoomAddress),
      intBound("max-password-wait-ms", "Longest back-off wait after wrong passwords.", limits.maxPasswordWaitMs),
      intBound("max-failures-per-room-per-day",
               "Wrong passwords a room takes in a day; then it refuses all but its devices'.",
               limits.maxFailuresPerRoomPerDay),
      intBound("max-failures-per-device-per-day",
               "Wrong passwords one device key takes in a day; then it no longer gets past the room's lock.",
               limits.maxFailuresPerDevicePerDay),
      intBound("max-devices-per-room", "Device keys a room keeps; past it the oldest are forgotten.",
               limits.maxDevicesPerRoom),
      intBound("max-backoff-entries", "Entries of each back-off table.", limits.maxBackoffEntries),
  };
  std::vector<QCommandLineOption> boundOptions;
  for (const Bound& bound : bounds) {
    QString help = QString::fromLatin1(bound.help);
    if (help.endsWith(QLatin1Char('.'))) help.chop(1);
    boundOptions.emplace_back(QString::fromLatin1(bound.name), QStringLiteral("%1 (default %2).").arg(help, bound.get()),
                              QStringLiteral("n"));
    parser.addOption(boundOptions.back());
  }
  const QString ownersDefault =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/owners.sqlite");
  QCommandLineOption ownersOption(QStringLiteral("owners-db"),
                                  QStringLiteral("SQLite file of room owners (default %1; \":memory:\" keeps "
                                                 "them for this run only).")
                                      .arg(ownersDefault),
                                  QStringLiteral("file"), ownersDefault);
  QCommandLineOption ownerTtlOption(QStringLiteral("owner-ttl-days"),
                                    QStringLiteral("Days a room's owner keeps it without coming back (default 30)."),
                                    QStringLiteral("days"), QStringLiteral("30"));
  QCommandLineOption proxyOption(QStringLiteral("trusted-proxy"),
                                 QStringLiteral("Address of a reverse proxy whose X-Forwarded-For is believed."),
                                 QStringLiteral("address"));
  QCommandLineOption turnUrlOption(
      QStringLiteral("turn-url"),
      QStringLiteral("A TURN server URL handed to admitted pairs (repeatable); turn:HOST:PORT without a transport "
                     "is handed out over UDP and TCP."),
      QStringLiteral("url"));
  QCommandLineOption turnTlsPortOption(
      QStringLiteral("turn-tls-port"),
      QStringLiteral("Also hand out each TURN host over TLS on this port (turns:, 443 passes most firewalls)."),
      QStringLiteral("port"));
  QCommandLineOption turnSecretOption(QStringLiteral("turn-secret-file"),
                                      QStringLiteral("File with the TURN server's shared secret (use-auth-secret)."),
                                      QStringLiteral("file"));
  QCommandLineOption turnTtlOption(QStringLiteral("turn-ttl"),
                                   QStringLiteral("Seconds a TURN credential lasts (default 3600)."),
                                   QStringLiteral("seconds"), QStringLiteral("3600"));
  QCommandLineOption redisOption(
      QStringLiteral("redis"),
      QStringLiteral("Share rooms with the other instances through this Redis (redis://[:password@]host[:port][/db]); "
                     "owners are then kept there instead of --owners-db."),
      QStringLiteral("url"));
  QCommandLineOption redisPasswordOption(
      QStringLiteral("redis-password-file"),
      QStringLiteral("File with Redis's password (its first line), kept out of the command line that other "
                     "users of the machine can read; instead of the one in the --redis URL."),
      QStringLiteral("file"));
  parser.addOptions({ownersOption, ownerTtlOption, proxyOption, turnUrlOption, turnTlsPortOption, turnSecretOption,
                     turnTtlOption,
                     redisOption, redisPasswordOption});
  parser.process(app);
  for (size_t i = 0; i < bounds.size(); ++i) {
    if (!parser.isSet(boundOptions[i])) continue;
    if (!bounds[i].set(parser.value(boundOptions[i]))) {
      std::fprintf(stderr, "lunor-signal: invalid --%s %s\n", bounds[i].name, qPrintable(parser.value(boundOptions[i])));
      return 2;
    }
  }

  const QHostAddress address(parser.value(listenOption));
  if (address.isNull()) {
    std::fprintf(stderr, "lunor-signal: invalid address %s\n", qPrintable(parser.value(listenOption)));
    return 2;
  }
  bool portOk = false;
  const uint port = parser.value(portOption).toUInt(&portOk);
  if (!portOk || port > 65535) {
    std::fprintf(stderr, "lunor-signal: invalid port %s\n", qPrintable(parser.value(portOption)));
    return 2;
  }
  if (parser.isSet(certOption) != parser.isSet(keyOption)) {
    std::fprintf(stderr, "lunor-signal: --cert and --key go together\n");
    return 2;
  }
  std::optional<QSslConfiguration> tls;
  if (parser.isSet(certOption)) {
    QString error;
    tls = loadTls(parser.value(certOption), parser.value(keyOption), &error);
    if (!tls) {
      std::fprintf(stderr, "lunor-signal: %s\n", qPrintable(error));
      return 2;
    }
  }

  QHostAddress proxy;
  if (parser.isSet(proxyOption) && (proxy = QHostAddress(parser.value(proxyOption))).isNull()) {
    std::fprintf(stderr, "lunor-signal: invalid --trusted-proxy %s\n", qPrintable(parser.value(proxyOption)));
    return 2;
  }
  lunor::signal::TurnConfig turn;
  if (parser.isSet(turnUrlOption) != parser.isSet(turnSecretOption)) {
    std::fprintf(stderr, "lunor-signal: --turn-url and --turn-secret-file go together\n");
    return 2;
  }
  if (parser.isSet(turnSecretOption)) {
    const auto secret = readSecretFile(parser.value(turnSecretOption));
    if (!secret) return 2;
    turn.secret = *secret;
    int tlsPort = 0;
    if (parser.isSet(turnTlsPortOption)) {
      bool ok = false;
      tlsPort = parser.value(turnTlsPortOption).toInt(&ok);
      if (!ok || tlsPort <= 0 || tlsPort > 65535) {
        std::fprintf(stderr, "lunor-signal: invalid --turn-tls-port %s\n", qPrintable(parser.value(turnTlsPortOption)));
        return 2;
      }
    }
    QString bad;
    turn.urls = lunor::signal::turnUrlVariants(parser.values(turnUrlOption), tlsPort, &bad);
    if (turn.urls.isEmpty()) {
      std::fprintf(stderr, "lunor-signal: not a TURN URL: %s\n", qPrintable(bad));
      return 2;
    }
    bool ok = false;
    turn.ttlSeconds = parser.value(turnTtlOption).toLongLong(&ok);
    if (turn.secret.isEmpty() || !ok || turn.ttlSeconds <= 0) {
      std::fprintf(stderr, "lunor-signal: an empty TURN secret or a bad --turn-ttl\n");
      return 2;
    }
  }
  bool ttlOk = false;
  const int ownerTtl = parser.value(ownerTtlOption).toInt(&ttlOk);
  if (!ttlOk || ownerTtl <= 0) {
    std::fprintf(stderr, "lunor-signal: invalid --owner-ttl-days\n");
    return 2;
  }
  // One instance: owners in an SQLite file. Several: everything shared in Redis.
  std::unique_ptr<lunor::signal::OwnerStore> owners;
  std::unique_ptr<lunor::signal::RedisLink> redis;
  std::unique_ptr<lunor::signal::RedisCluster> cluster;
  if (parser.isSet(redisPasswordOption) && !parser.isSet(redisOption)) {
    std::fprintf(stderr, "lunor-signal: --redis-password-file goes with --redis\n");
    return 2;
  }
  if (parser.isSet(redisOption)) {
    auto address = lunor::signal::parseRedisUrl(parser.value(redisOption));
    if (!address) {
      std::fprintf(stderr, "lunor-signal: invalid --redis %s\n", qPrintable(parser.value(redisOption)));
      return 2;
    }
    if (parser.isSet(redisPasswordOption)) {
      if (!address->password.isEmpty()) {
        std::fprintf(stderr, "lunor-signal: Redis's password in the --redis URL or in --redis-password-file, "
                             "not both\n");
        return 2;
      }
      const auto password = readSecretFile(parser.value(redisPasswordOption));
      if (!password) return 2;
      address->password = password->split('\n').first().trimmed();
      if (address->password.isEmpty()) {
        std::fprintf(stderr, "lunor-signal: %s holds no password\n", qPrintable(parser.value(redisPasswordOption)));
        return 2;
      }
    }
    redis = std::make_unique<lunor::signal::RedisLink>(*address);
    if (const QString error = redis->open(); !error.isEmpty()) {
      std::fprintf(stderr, "lunor-signal: Redis at %s: %s\n", address->host.constData(), qPrintable(error));
      return 1;
    }
    cluster = std::make_unique<lunor::signal::RedisCluster>(*redis);
    owners = std::make_unique<lunor::signal::RedisOwnerStore>(*redis, ownerTtl, cluster->instance());
  } else {
    const QString ownersPath = parser.value(ownersOption);
    if (ownersPath != QLatin1String(":memory:")) QDir().mkpath(QFileInfo(ownersPath).absolutePath());
    auto sqlite = std::make_unique<lunor::signal::SqliteOwnerStore>(ownersPath, ownerTtl);
    if (!sqlite->error().isEmpty()) {
      std::fprintf(stderr, "lunor-signal: %s: %s\n", qPrintable(ownersPath), qPrintable(sqlite->error()));
      return 1;
    }
    owners = std::move(sqlite);
  }
  lunor::raiseDescriptorLimit();

  lunor::quitOnTerminationSignals(app);
  lunor::signal::SignalServer server(limits, {}, owners.get());
  if (cluster) {
    server.rooms().setCluster(cluster.get());
    cluster->attach(server.rooms());
  }
  if (!proxy.isNull()) server.setTrustedProxy(proxy);
  const QString webRoot = parser.isSet(webOption)
                              ? parser.value(webOption)
                              : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/lunor-signal/web"));
  server.setWebRoot(webRoot);
  if (parser.isSet(webOption) && !webRoot.isEmpty() && !server.servesWebClient()) {
    std::fprintf(stderr, "lunor-signal: --web-root %s is not a folder\n", qPrintable(webRoot));
    return 2;
  }
  if (!turn.urls.isEmpty()) {
    server.setIceServers([turn](const QString& clientId) { return lunor::signal::turnIceServers(turn, clientId); });
  }
  if (const auto error = server.listen(address, static_cast<quint16>(port), tls)) {
    std::fprintf(stderr, "lunor-signal: %s\n", qPrintable(*error));
    return 1;
  }
  const int code = app.exec();
  server.close();
  lunor::signal::logEvent(QStringLiteral("stopped"));
  lunor::signal::flushLog();
  return code;
}
