// lunor-signal: the signaling server Lunor Remote hosts and clients meet on.

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

#include "signal_server.h"
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
  return tls;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("lunor-signal"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Signaling server for Lunor Remote: rooms, join approval, unattended access and "
      "relay of WebRTC negotiation between a host and its client.\n"
      "Serves ws://ADDRESS:PORT/signal on loopback, or wss:// on any address when given a "
      "certificate and key."));
  parser.addHelpOption();
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
  parser.addOptions({listenOption, portOption, certOption, keyOption});
  parser.process(app);

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

  lunor::quitOnTerminationSignals(app);
  lunor::signal::SignalServer server;
  if (const auto error = server.listen(address, static_cast<quint16>(port), tls)) {
    std::fprintf(stderr, "lunor-signal: %s\n", qPrintable(*error));
    return 1;
  }
  const int code = app.exec();
  server.close();
  std::printf("ts=%s event=stopped\n",
              qPrintable(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)));
  return code;
}
