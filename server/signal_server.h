#pragma once

// The signaling server: rooms named after a host's session ID, joins that the
// host approves or that an unattended password admits, and "signal" relay
// between a room's host and its one admitted client. Every input from the
// network is bounded and checked; nothing a peer sends can crash the server.

#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

#include "password_backoff.h"

class QWebSocket;
class QWebSocketServer;

namespace lunor::signal {

struct ServerLimits {
  qint64 maxMessageBytes = 256 * 1024;
  int maxDisplayNameChars = 100;
  int maxRoomIdChars = 64;
  // Token bucket per connection: sustained rate and burst.
  double messagesPerSecond = 100;
  double burstMessages = 300;
  int droppedBeforeClose = 1000;
  int maxConnectionsPerAddress = 256;
  // Free wrong passwords per (room, address) and per room before back-off.
  int freeFailuresPerAddress = 3;
  int freeFailuresPerRoom = 10;
};

class SignalServer final : public QObject {
  Q_OBJECT
 public:
  explicit SignalServer(ServerLimits limits = {}, QObject* parent = nullptr);
  ~SignalServer() override;
  SignalServer(const SignalServer&) = delete;
  SignalServer& operator=(const SignalServer&) = delete;

  // Listens on address:port (0 picks a free port). With tls, connections are
  // wss://; without it only loopback addresses are allowed. Returns an error
  // text, or nothing on success.
  std::optional<QString> listen(const QHostAddress& address, quint16 port,
                                std::optional<QSslConfiguration> tls = std::nullopt);
  quint16 port() const;
  bool isSecure() const;
  // Closes every connection (1001) and stops listening.
  void close();

  int connectionCount() const { return static_cast<int>(peers_.size()); }
  int roomCount() const { return static_cast<int>(rooms_.size()); }

  // For tests: replaces the millisecond clock of the password back-off.
  void setClockForTesting(PasswordBackoff::Clock clock);

 private:
  struct Peer {
    QWebSocket* socket = nullptr;
    QString id;
    QString address;
    QString hostedRoom;  // empty when hosting nothing
    QString joinedRoom;  // empty when neither pending nor admitted
    double tokens = 0;
    QElapsedTimer refill;
    int dropped = 0;
    qint64 lastRateWarningMs = -1;
  };
  struct PendingJoin {
    QString displayName;
    QJsonValue avatar;  // a string, or undefined
    bool awaitingPassword = false;
  };
  struct Room {
    QString id;
    QString hostId;
    QString unattendedHash;  // empty: no unattended access
    QString admittedId;      // empty: nobody admitted
    bool admittedUnattended = false;
    QHash<QString, PendingJoin> pending;
  };

  void acceptConnections();
  void handleFrame(const QString& peerId, const QByteArray& utf8);
  void handleDisconnect(const QString& peerId);
  bool takeToken(Peer& peer);

  void handleCreate(Peer& peer, const QJsonObject& message);
  void handleJoin(Peer& peer, const QJsonObject& message);
  void handleApprove(Peer& peer, const QJsonObject& message);
  void handleReject(Peer& peer, const QJsonObject& message, bool kick);
  void handleSignal(Peer& peer, const QJsonObject& message);

  void admit(Room& room, const QString& clientId, bool unattended);
  // Takes the peer out of the room it joined, telling the host unless quiet.
  void leaveJoinedRoom(Peer& peer, bool tellHost);
  // Closes a room, telling everyone in it "left".
  void closeRoom(QString roomId);

  void send(const QString& peerId, const QJsonObject& message);
  void sendError(const QString& peerId, const QString& code);
  void logEvent(const QString& event, const QList<QPair<QString, QString>>& fields = {}) const;
  QString newClientId() const;

  ServerLimits limits_;
  std::unique_ptr<QWebSocketServer> server_;
  bool secure_ = false;
  QHash<QString, Peer> peers_;
  QHash<QString, Room> rooms_;
  PasswordBackoff perAddress_;
  PasswordBackoff perRoom_;
};

// Compares two strings without an early exit on the first difference.
bool constantTimeEquals(const QByteArray& a, const QByteArray& b);

// True for exactly 64 lowercase hexadecimal characters.
bool isPasswordDigest(const QString& text);

}  // namespace lunor::signal
