// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A connection to Redis driven by the Qt event loop: commands with their
// replies, and channels subscribed to. Two hiredis connections under it (one
// for commands, one for subscriptions, as Redis wants). When Redis goes away
// (or stops answering for 10 s) the link says so once and reconnects every
// second, without blocking the loop: a host name is looked up on Qt's lookup
// threads first; commands sent meanwhile fail, and the subscriptions are made
// again once it is back.

#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

struct redisAsyncContext;

namespace lunor::signal {

struct RedisReply {
  bool ok = false;       // false: an error reply, or no reply (connection lost)
  bool nil = false;
  qint64 integer = 0;
  QByteArray text;       // a string, status or error
  QList<QByteArray> items;  // an array's strings (nested arrays are flattened)
};

struct RedisAddress {
  QByteArray host = "127.0.0.1";
  int port = 6379;
  QByteArray password;
  int database = 0;
};

// redis://[:password@]host[:port][/db]; nothing for anything else.
std::optional<RedisAddress> parseRedisUrl(const QString& url);

class RedisLink final : public QObject {
  Q_OBJECT
 public:
  using Done = std::function<void(const RedisReply&)>;
  using Handler = std::function<void(const QByteArray& message)>;

  explicit RedisLink(RedisAddress address, QObject* parent = nullptr);
  ~RedisLink() override;

  // Connects and checks the server answers, waiting for both (at start,
  // before anything is served); an error text, or empty.
  QString open();
  bool isUp() const { return commands_ != nullptr && subscriber_ != nullptr; }

  // Sends one command; `done` runs on the main thread with its reply, never
  // after the link is gone.
  void command(const QList<QByteArray>& args, Done done = {});
  // Messages of `channel` go to `handler` from now on.
  void subscribe(const QByteArray& channel, Handler handler);

 Q_SIGNALS:
  void lost();
  void restored();

 private:
  struct Connection;
  // Starts connecting to `host` (an address, or at start a name).
  redisAsyncContext* connect(const QByteArray& host, QString* error, QObject** adapter);
  // Both connections to `host`, with every channel subscribed on them (at
  // start, and again after each loss); false (both freed) when either
  // cannot start.
  bool connectTo(const QByteArray& host, QString* error);
  static void detachAdapter(const redisAsyncContext* context, QObject*& adapter);
  void authenticate(redisAsyncContext* context);
  void subscribeOn(const QByteArray& channel);
  void connectionLost(const redisAsyncContext* context);
  void reconnect();
  void markDown();
  static void onReply(redisAsyncContext* context, void* reply, void* privdata);
  static void onMessage(redisAsyncContext* context, void* reply, void* privdata);
  static void onDisconnect(const redisAsyncContext* context, int status);
  void freeContext(redisAsyncContext*& context, QObject*& adapter);

  RedisAddress address_;
  redisAsyncContext* commands_ = nullptr;
  redisAsyncContext* subscriber_ = nullptr;
  QObject* commandsAdapter_ = nullptr;
  QObject* subscriberAdapter_ = nullptr;
  QHash<QByteArray, Handler> channels_;
  QTimer retry_;
  int lookup_ = -1;          // the host name being looked up (QHostInfo's ID), or -1
  QTimer watchdog_;
  int pending_ = 0;          // commands sent, not answered
  qint64 lastReplyMs_ = 0;
  int connected_ = 0;        // connections up since the last loss
  bool closing_ = false;
  bool down_ = false;
};

}  // namespace lunor::signal
