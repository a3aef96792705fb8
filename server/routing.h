// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Several instances serving the same rooms. A connection whose join names a
// room held on another instance is proxied there: its frames go to that
// instance (its home), where it stands as a connection like the others whose
// messages come back through the instance holding its socket (its origin).
// The routing also registers the rooms held here among the instances. With
// no cluster every connection is here and the routing passes frames through.

#include <functional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include "protocol/server_messages.h"
#include "cluster.h"
#include "owner_store.h"

namespace lunor::signal {

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

// What the routing asks of the rooms of this instance.
class LocalRooms {
 public:
  virtual ~LocalRooms() = default;
  virtual bool hasConnection(const QString& peerId) const = 0;
  // A join for `roomId` is answered here: its room is held here, or the ID names no room at all.
  virtual bool answersHere(const QString& roomId) const = 0;
  // False (and the connection told) when its address asked for too many rooms this minute.
  virtual bool mayAskFor(const QString& peerId, const QString& roomId) = 0;
  // A connection of another instance arrives for a room held here.
  virtual void arrived(const QString& peerId, const QString& address) = 0;
  // A join whose room is here or nowhere, its routing done.
  virtual void joinHere(const QString& peerId, const server_messages::Join& join) = 0;
  // A frame held back during a lookup, handled from the start (routing included).
  virtual void dispatch(const QString& peerId, const QByteArray& utf8) = 0;
  // The connection goes to a room elsewhere: it stops hosting, and leaves the room it joined here.
  virtual void vacate(const QString& peerId) = 0;
  // As Rooms::frame(), disconnected() and roomMoved().
  virtual void frame(const QString& peerId, const QByteArray& utf8) = 0;
  virtual void disconnected(const QString& peerId, int closeCode) = 0;
  virtual void roomMoved(const QString& roomId) = 0;
};

class Routing final : public RoomsOutput {
 public:
  // network: our own sockets; here: the rooms of this instance. Both
  // borrowed, and must outlive the routing.
  Routing(RoomsOutput& network, LocalRooms& here);
  Routing(const Routing&) = delete;
  Routing& operator=(const Routing&) = delete;

  // Rooms held elsewhere are reached through `cluster` (borrowed; null:
  // this instance is alone).
  void setCluster(Cluster* cluster) { cluster_ = cluster; }
  bool isShared() const { return cluster_ != nullptr; }

  // To a connection, through its socket here or the instance holding it.
  void send(const QString& peerId, const QByteArray& json) override;
  void close(const QString& peerId, int code, const QString& reason) override;

  // True for a connection whose socket is on another instance.
  bool isRemote(const QString& peerId) const { return origins_.contains(peerId); }
  // While the room of the connection's join is being looked up, its frames
  // wait (at most a few dozen), to follow the join in order; true when kept.
  bool hold(const QString& peerId, const QByteArray& utf8);
  // True when the frame (`request`, decoded) is another instance's
  // business: sent there, or waiting for the lookup of the room it joins.
  bool takes(const QString& peerId, const QString& address, const server_messages::Request& request,
             const QByteArray& utf8);
  // The connection has gone; the instance it was proxied to hears it.
  void disconnected(const QString& peerId, int closeCode);

  // Registers a room about to be created here (claim: what its creator is
  // to it). The owner takes it from whichever instance holds it; anyone
  // else only gets a room no running instance holds.
  void place(const QString& roomId, Claim claim, std::function<void(bool placed, const QString& previous)> done);
  // Tells the instance that held the room before (if another) that it is here now.
  void takeOver(const QString& roomId, const QString& previous);
  // Forgets the registration of a room no longer held here.
  void release(const QString& roomId);

  // A message from another instance.
  void fromInstance(const QByteArray& message);
  // Instances some connection here depends on.
  QSet<QString> instancesInUse() const;
  // An instance stopped: what it held for our connections is gone.
  void instanceGone(const QString& instance);

 private:
  // A join whose room is being looked up, and the frames that came meanwhile.
  struct Lookup {
    quint64 ticket = 0;
    QString address;
    QList<QByteArray> held;
  };

  void routed(const QString& peerId, quint64 ticket, const QString& instance, const server_messages::Join& join,
              const QByteArray& utf8);
  void forward(const QString& peerId, const QByteArray& utf8, const QString& joiningRoom = {});
  void detach(const QString& peerId, int code = 1000);

  RoomsOutput& network_;
  LocalRooms& here_;
  Cluster* cluster_ = nullptr;
  quint64 nextLookup_ = 1;
  QHash<QString, QString> homes_;    // our connections proxied elsewhere → the instance of their room
  QHash<QString, QString> origins_;  // other instances' connections → the instance holding the socket
  QHash<QString, Lookup> lookups_;   // by connection
};

}  // namespace lunor::signal
