#pragma once

// The signaling protocol for every connection of the server: rooms named
// after a host's session ID, joins that the host approves or that an
// unattended password admits, and "signal" relay between a room's host and
// its one admitted client. Each admitted client is given a device key for
// the room ("approved": deviceKey); a password join that shows it again
// ("join": deviceKey) is not held by the room's daily lock. The host revokes
// them all with "forget-devices", and a new password revokes them too. It knows nothing of sockets: connections come in
// through connected(), their frames through frame(), and leave through
// disconnected(); what goes back out goes through RoomsOutput. Every input
// is bounded and checked; nothing a peer sends can crash the server.

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>

#include <QJsonArray>
#include <QSet>

#include "cluster.h"
#include "server_limits.h"
#include "lru_table.h"
#include "owner_store.h"
#include "password_backoff.h"

namespace lunor::signal {


// TURN servers for the pair being admitted (the client's ID names the
// credentials); an empty array when the server has none to give.
using IceServersFor = std::function<QJsonArray(const QString& clientId)>;

// Where the rooms' answers go: the network, or a test. It never calls back
// into the rooms: a connection that goes while they send or close is
// reported to disconnected() after they are done.
class RoomsOutput {
 public:
  virtual ~RoomsOutput() = default;
  // One text frame (compact JSON) to the connection.
  virtual void send(const QString& peerId, const QByteArray& json) = 0;
  // Closes the connection; disconnected() follows once it has closed.
  virtual void close(const QString& peerId, int code, const QString& reason) = 0;
};

class Rooms final {
 public:
  // output and owners are borrowed and must outlive the rooms. clock:
  // milliseconds, monotonic, for every timed limit.
  Rooms(ServerLimits limits, RoomsOutput& output, PasswordBackoff::Clock clock, OwnerStore& owners);

  void setIceServers(IceServersFor iceServers) { iceServers_ = std::move(iceServers); }
  // With several instances: rooms held elsewhere are reached through
  // `cluster` (borrowed; null: this instance is alone). A connection that
  // joins such a room is proxied there: its frames go to the room's
  // instance, and what that instance says to it comes back through this one.
  void setCluster(Cluster* cluster) { cluster_ = cluster; }
  // A message from another instance.
  void fromInstance(const QByteArray& message);
  // A failure count shared by the instances (key as given to the cluster).
  void failureCounted(const QByteArray& key, int count);
  // Instances some connection here depends on.
  QSet<QString> instancesInUse() const;
  // An instance stopped: what it held for our connections is gone.
  void instanceGone(const QString& instance);
  // A room held here has been taken over by its owner on another instance.
  void roomMoved(const QString& roomId);

  // A client ID no connection has: the network side files the new
  // connection under it, then calls connected().
  QString newClientId() const;
  // A new connection from `address`; greets it with its client ID.
  void connected(const QString& peerId, const QString& address);
  // One text frame of the connection, as UTF-8.
  void frame(const QString& peerId, const QByteArray& utf8);
  // The connection has gone; its room closes, or its host hears it left.
  void disconnected(const QString& peerId, int closeCode);

  // Forgets what the time-bounded tables no longer need; call it each second.
  void expire();

  int connectionCount() const { return static_cast<int>(peers_.size()); }
  int roomCount() const { return static_cast<int>(rooms_.size()); }
  int backoffEntries() const { return perAddress_.trackedKeys() + perRoomAddress_.trackedKeys(); }
  const ServerLimits& limits() const { return limits_; }

 private:
  struct Peer {
    QString id;
    QString address;
    QString hostedRoom;  // empty when hosting nothing
    QString joinedRoom;  // empty when neither pending nor admitted
    double tokens = 0;
    QElapsedTimer refill;
    int dropped = 0;
    qint64 lastRateWarningMs = -1;
    qint64 nextJoinAtMs = 0;        // the join cooldown
    QString refusedRoom;            // the room that last turned it away
    qint64 refusedUntilMs = 0;
    quint64 pendingCreate = 0;      // a create waiting for the owner store
    QString pendingRoom;            // and the room it asks for
    // Several instances. home: where this connection's frames go (empty:
    // here). origin: the instance holding the socket of a connection whose
    // room is here (empty: the socket is ours).
    QString home;
    QString origin;
    quint64 routing = 0;            // a lookup of the room a join asks for
    QList<QByteArray> held;         // frames that arrived during the lookup
    quint64 deviceCheck = 0;        // a lookup of the device key its join showed
  };
  struct PendingJoin {
    QString displayName;
    QJsonValue avatar;  // a string, or undefined
    bool awaitingPassword = false;
    QString deviceKey;  // the well-formed device key the join showed, or empty
  };
  // What is known of the device key a password join showed.
  enum class DeviceCheck { Unchecked, Known, Unknown };
  struct Room {
    QString id;
    QString hostId;
    QString unattendedHash;  // empty: no unattended access
    QString admittedId;      // empty: nobody admitted
    bool admittedUnattended = false;
    QHash<QString, PendingJoin> pending;
    bool lockedToldHost = false;
    bool owned = false;  // created with the key bound to its ID
    qint64 requestWindowStart = 0;  // join requests shown to the host this minute
    int requests = 0;
  };
  // Rooms one address asked for in the current minute.
  struct AddressRooms {
    qint64 windowStart = 0;
    QSet<QString> rooms;
  };
  // A room's wrong passwords today.
  struct RoomFailures {
    qint64 dayStart = 0;
    int failures = 0;
  };

  bool takeToken(Peer& peer);
  void dispatch(Peer& peer, const QByteArray& utf8);
  // True when the frame is another instance's business (sent or on its way).
  bool routeElsewhere(Peer& peer, const QString& type, const QJsonObject& message, const QByteArray& utf8);
  void routed(const QString& peerId, quint64 ticket, const QString& instance, const QByteArray& utf8);
  void forward(Peer& peer, const QByteArray& utf8, const QString& joiningRoom = {});
  void detachFromHome(Peer& peer, int code = 1000);
  void placeAndCreate(const QString& peerId, const QString& roomId, const QString& unattendedHash, Claim claim,
                      quint64 ticket);
  void countFailure(const QByteArray& key, qint64 ttlMs, bool sliding);
  void handleCreate(Peer& peer, const QJsonObject& message);
  void refuseCreate(Peer& peer, const QString& roomId);
  void createRoom(const QString& peerId, const QString& roomId, const QString& unattendedHash, Claim claim);
  // False (and the peer told) when the address asked for too many rooms this minute.
  bool mayAskFor(Peer& peer, const QString& roomId);
  void handleJoin(Peer& peer, const QJsonObject& message);
  // Admits the peer when the password is right and no wait or lock is in
  // its way; a device of the room's (once looked up) is not held by the
  // room's daily lock.
  void checkPassword(Peer& peer, Room& room, const PendingJoin& join, const QString& passwordHash,
                     DeviceCheck device = DeviceCheck::Unchecked);
  // Asks the store whether the join's device key is the room's, then goes
  // on with the password if the peer still waits for that answer.
  void lookUpDevice(Peer& peer, const Room& room, const PendingJoin& join, const QString& passwordHash);
  void handleForgetDevices(Peer& peer);
  void handleApprove(Peer& peer, const QJsonObject& message);
  void handleReject(Peer& peer, const QJsonObject& message, bool kick);
  void handleSignal(Peer& peer, const QJsonObject& message);

  void admit(Room& room, const QString& clientId, bool unattended);
  // Takes the peer out of the room it joined, telling the host unless quiet.
  void leaveJoinedRoom(Peer& peer, bool tellHost);
  // Closes a room, telling everyone in it "left". keepRegistration: the room
  // is being replaced here at once (its entry among the instances stays).
  void closeRoom(QString roomId, bool keepRegistration = false);

  void send(const QString& peerId, const QJsonObject& message);
  void sendRaw(const QString& peerId, const QByteArray& json);
  void closePeer(const QString& peerId, int code, const QString& reason);
  void sendError(const QString& peerId, const QString& code);

  ServerLimits limits_;
  RoomsOutput& output_;
  QHash<QString, Peer> peers_;
  QHash<QString, Room> rooms_;
  PasswordBackoff::Clock clock_;
  OwnerStore& owners_;
  IceServersFor iceServers_;
  Cluster* cluster_ = nullptr;
  quint64 nextCreate_ = 1;
  quint64 nextRoute_ = 1;
  quint64 nextDeviceCheck_ = 1;
  PasswordBackoff perAddress_;
  PasswordBackoff perRoomAddress_;
  LruTable<RoomFailures> roomFailures_;
  LruTable<AddressRooms> askedRooms_;
};

// Compares two strings without an early exit on the first difference.
bool constantTimeEquals(const QByteArray& a, const QByteArray& b);

// True for exactly 64 lowercase hexadecimal characters.
bool isPasswordDigest(const QString& text);

}  // namespace lunor::signal
