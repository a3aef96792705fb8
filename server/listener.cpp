// SPDX-License-Identifier: GPL-3.0-or-later
#include "listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>

#include "event_log.h"

namespace lunor::signal {

namespace {
constexpr int kAcceptPauseMs = 200;
}

QString peerAddressOf(qintptr descriptor) {
  sockaddr_storage storage{};
  socklen_t length = sizeof(storage);
  if (::getpeername(static_cast<int>(descriptor), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  QHostAddress address(reinterpret_cast<const sockaddr*>(&storage));
  // IPv4 clients of a dual-stack socket are counted as IPv4.
  bool mapped = false;
  const quint32 v4 = address.toIPv4Address(&mapped);
  if (mapped) address = QHostAddress(v4);
  return address.toString();
}

QString addressKey(const QString& address) {
  const QHostAddress host(address);
  bool v4 = false;
  const quint32 ipv4 = host.toIPv4Address(&v4);
  if (v4) return QHostAddress(ipv4).toString();  // also an IPv4 address written as IPv6
  if (host.protocol() != QAbstractSocket::IPv6Protocol) return address;
  // One IPv6 client holds a whole /64: it counts as one.
  Q_IPV6ADDR bytes = host.toIPv6Address();
  for (int i = 8; i < 16; ++i) bytes[i] = 0;
  return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

Listener::Listener(const ServerLimits& limits, const QSslConfiguration* tls, QObject* parent)
    : QSslServer(parent), limits_(limits), tls_(tls != nullptr) {
  setListenBacklogSize(limits.listenBacklog);
  setMaxPendingConnections(limits.maxConnections);
  setHandshakeTimeout(limits.handshakeTimeoutMs);
  if (tls) {
    QSslConfiguration configuration = *tls;
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    setSslConfiguration(configuration);
  }
  connect(this, &QTcpServer::pendingConnectionAvailable, this, &Listener::takeReady);
  connect(this, &QSslServer::startedEncryptionHandshake, this, [this](QSslSocket* socket) {
    count(socket, socket->property("lunor.address").toString(), socket->property("lunor.peer").toString());
  });
  connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
    // Out of descriptors, most likely: wait for some to be freed.
    logEvent(QStringLiteral("accept-paused"), {{"error", QString::number(int(error))}});
    pauseAccepting();
    QTimer::singleShot(kAcceptPauseMs, this, [this] { resumeAccepting(); });
  });
}

void Listener::incomingConnection(qintptr descriptor) {
  const QString peer = peerAddressOf(descriptor);
  const QString address = addressKey(peer);
  const bool proxied = !trustedProxy_.isNull() && QHostAddress(peer).isEqual(trustedProxy_);
  const char* why = nullptr;
  if (total_ >= limits_.maxConnections) {
    why = "server-full";
  } else if (!proxied && perAddress_.value(address) >= limits_.maxConnectionsPerAddress) {
    why = "too-many";
  }
  if (why) {
    logEvent(QStringLiteral("connection-refused"), {{"address", address}, {"why", QString::fromLatin1(why)}});
    ::close(static_cast<int>(descriptor));
    return;
  }
  if (tls_) {
    // Counted when its handshake starts (the signal gives the socket).
    setProperty("lunor.nextAddress", address);
    setProperty("lunor.nextPeer", peer);
    QSslServer::incomingConnection(descriptor);
    return;
  }
  auto* socket = new QTcpSocket(this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    ::close(static_cast<int>(descriptor));
    return;
  }
  count(socket, address, peer);
  addPendingConnection(socket);
}

void Listener::count(QTcpSocket* socket, const QString& given, const QString& givenPeer) {
  const QString address = given.isEmpty() ? property("lunor.nextAddress").toString() : given;
  socket->setProperty("lunor.address", address);
  socket->setProperty("lunor.peer", givenPeer.isEmpty() ? property("lunor.nextPeer").toString() : givenPeer);
  ++total_;
  ++perAddress_[address];
  connect(socket, &QObject::destroyed, this, [this, address] {
    --total_;
    auto it = perAddress_.find(address);
    if (it != perAddress_.end() && --*it <= 0) perAddress_.erase(it);
  });
}

void Listener::takeReady() {
  while (QTcpSocket* socket = nextPendingConnection()) {
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Q_EMIT ready(socket);
  }
}

}  // namespace lunor::signal
