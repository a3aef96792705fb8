// SPDX-License-Identifier: GPL-3.0-or-later
#include "redis_link.h"

#include <hiredis/async.h>
#include <hiredis/hiredis.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QUrl>

#include "event_log.h"
#include "monotonic_clock.h"
#include "redis_qt_adapter.h"

namespace lunor::signal {
namespace {

constexpr int kRetryMs = 1000;
// Commands unanswered this long: Redis (or the way to it) has stalled.
constexpr qint64 kStallMs = 10'000;

void readReply(const redisReply* reply, RedisReply& out) {
  switch (reply->type) {
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
      out.text = QByteArray(reply->str, static_cast<qsizetype>(reply->len));
      break;
    case REDIS_REPLY_ERROR:
      out.ok = false;
      out.text = QByteArray(reply->str, static_cast<qsizetype>(reply->len));
      break;
    case REDIS_REPLY_INTEGER:
      out.integer = reply->integer;
      break;
    case REDIS_REPLY_NIL:
      out.nil = true;
      break;
    case REDIS_REPLY_ARRAY:
      for (size_t i = 0; i < reply->elements; ++i) {
        const redisReply* item = reply->element[i];
        if (item->type == REDIS_REPLY_ARRAY) {
          readReply(item, out);
        } else if (item->type == REDIS_REPLY_INTEGER) {
          out.items << QByteArray::number(item->integer);
        } else {
          out.items << QByteArray(item->str, static_cast<qsizetype>(item->len));
        }
      }
      break;
    default:
      break;
  }
}

// A short blocking check that Redis is there and takes our password.
QString probe(const RedisAddress& address) {
  timeval timeout{1, 0};
  redisContext* context = redisConnectWithTimeout(address.host.constData(), address.port, timeout);
  if (!context) return QStringLiteral("cannot reach Redis");
  QString error;
  if (!context->err) redisSetTimeout(context, timeout);  // a Redis that accepts and says nothing
  if (context->err) {
    error = QString::fromUtf8(context->errstr);
  } else {
    if (!address.password.isEmpty()) {
      auto* auth = static_cast<redisReply*>(redisCommand(context, "AUTH %b", address.password.constData(),
                                                         static_cast<size_t>(address.password.size())));
      if (!auth || auth->type == REDIS_REPLY_ERROR) error = QStringLiteral("Redis refused the password");
      if (auth) freeReplyObject(auth);
    }
    if (error.isEmpty()) {
      auto* pong = static_cast<redisReply*>(redisCommand(context, "PING"));
      if (!pong || pong->type == REDIS_REPLY_ERROR) {
        error = pong ? QString::fromUtf8(pong->str) : QStringLiteral("Redis did not answer");
      }
      if (pong) freeReplyObject(pong);
    }
  }
  redisFree(context);
  return error;
}

// The address hiredis would pick for the name: IPv4 first, IPv6 only when
// there is no IPv4 address. Empty when the name did not resolve.
QByteArray chooseAddress(const QHostInfo& info) {
  if (info.error() != QHostInfo::NoError) return {};
  QByteArray chosen;
  for (const QHostAddress& address : info.addresses()) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol) return address.toString().toLatin1();
    if (chosen.isEmpty() && address.protocol() == QAbstractSocket::IPv6Protocol) {
      chosen = address.toString().toLatin1();
    }
  }
  return chosen;
}

}  // namespace

std::optional<RedisAddress> parseRedisUrl(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.scheme() != QLatin1String("redis") || url.host().isEmpty()) return std::nullopt;
  RedisAddress address;
  address.host = url.host().toUtf8();
  address.port = url.port(6379);
  address.password = url.password(QUrl::FullyDecoded).toUtf8();
  const QString path = url.path().mid(1);
  if (!path.isEmpty()) {
    bool ok = false;
    address.database = path.toInt(&ok);
    if (!ok || address.database < 0) return std::nullopt;
  }
  return address;
}

RedisLink::RedisLink(RedisAddress address, QObject* parent) : QObject(parent), address_(std::move(address)) {
  retry_.setInterval(kRetryMs);
  retry_.setSingleShot(true);
  QObject::connect(&retry_, &QTimer::timeout, this, &RedisLink::reconnect);
  watchdog_.setInterval(kStallMs / 4);
  QObject::connect(&watchdog_, &QTimer::timeout, this, [this] {
    if (pending_ > 0 && monotonicMs() - lastReplyMs_ > kStallMs) {
      logEvent(QStringLiteral("redis-stalled"), {{"pending", QString::number(pending_)}});
      freeContext(commands_, commandsAdapter_);  // what waits fails now
      freeContext(subscriber_, subscriberAdapter_);
      markDown();
    }
  });
  watchdog_.start();
}

RedisLink::~RedisLink() {
  closing_ = true;
  if (lookup_ >= 0) QHostInfo::abortHostLookup(lookup_);
  freeContext(commands_, commandsAdapter_);
  freeContext(subscriber_, subscriberAdapter_);
}

// The adapter writes into its context when deleted and is called by it when
// the context is freed: it is cleaned up and unhooked while both are alive.
void RedisLink::detachAdapter(const redisAsyncContext* context, QObject*& adapter) {
  auto* c = const_cast<redisAsyncContext*>(context);
  if (c->ev.cleanup) c->ev.cleanup(c->ev.data);
  c->ev.addRead = c->ev.delRead = c->ev.addWrite = c->ev.delWrite = c->ev.cleanup = nullptr;
  delete adapter;
  adapter = nullptr;
}

void RedisLink::freeContext(redisAsyncContext*& context, QObject*& adapter) {
  if (!context) return;
  redisAsyncContext* freeing = context;
  context = nullptr;  // what its callbacks find when they come back to us
  detachAdapter(freeing, adapter);
  redisAsyncFree(freeing);  // pending commands fail, quietly when closing_
}

QString RedisLink::open() {
  if (const QString error = probe(address_); !error.isEmpty()) return error;
  QString error;
  connectTo(address_.host, &error);
  return error;
}

bool RedisLink::connectTo(const QByteArray& host, QString* error) {
  commands_ = connect(host, error, &commandsAdapter_);
  if (commands_) subscriber_ = connect(host, error, &subscriberAdapter_);
  if (!commands_ || !subscriber_) {
    freeContext(commands_, commandsAdapter_);
    return false;
  }
  for (auto it = channels_.cbegin(); it != channels_.cend(); ++it) subscribeOn(it.key());
  return true;
}

redisAsyncContext* RedisLink::connect(const QByteArray& host, QString* error, QObject** adapter) {
  redisAsyncContext* context = redisAsyncConnect(host.constData(), address_.port);
  if (!context || context->err) {
    *error = context ? QString::fromUtf8(context->errstr) : QStringLiteral("cannot reach Redis");
    if (context) redisAsyncFree(context);
    return nullptr;
  }
  context->data = this;
  *adapter = attachQtAdapter(context);
  if (!*adapter) {
    *error = QStringLiteral("cannot drive Redis from the event loop");
    redisAsyncFree(context);
    return nullptr;
  }
  // A peer that vanished without a word is noticed by TCP, not never.
  redisEnableKeepAlive(&context->c);
  redisAsyncSetDisconnectCallback(context, &RedisLink::onDisconnect);
  redisAsyncSetConnectCallback(context, [](const redisAsyncContext* c, int status) {
    auto* link = static_cast<RedisLink*>(c->data);
    if (!link) return;
    if (status != REDIS_OK) {
      link->connectionLost(c);
    } else if (++link->connected_ == 2 && link->down_) {
      link->down_ = false;
      logEvent(QStringLiteral("redis-restored"));
      Q_EMIT link->restored();
    }
  });
  authenticate(context);
  return context;
}

void RedisLink::authenticate(redisAsyncContext* context) {
  // Sent first on the connection: Redis answers in order.
  if (!address_.password.isEmpty()) {
    redisAsyncCommand(context, nullptr, nullptr, "AUTH %b", address_.password.constData(),
                      static_cast<size_t>(address_.password.size()));
  }
  if (address_.database != 0) redisAsyncCommand(context, nullptr, nullptr, "SELECT %d", address_.database);
}

void RedisLink::command(const QList<QByteArray>& args, Done done) {
  if (!commands_) {
    if (done) QMetaObject::invokeMethod(this, [done] { done(RedisReply{}); }, Qt::QueuedConnection);
    return;
  }
  std::vector<const char*> argv;
  std::vector<size_t> lengths;
  argv.reserve(args.size());
  lengths.reserve(args.size());
  for (const QByteArray& arg : args) {
    argv.push_back(arg.constData());
    lengths.push_back(static_cast<size_t>(arg.size()));
  }
  if (pending_++ == 0) lastReplyMs_ = monotonicMs();
  auto* pending = new Done(std::move(done));
  if (redisAsyncCommandArgv(commands_, &RedisLink::onReply, pending, static_cast<int>(argv.size()), argv.data(),
                            lengths.data()) != REDIS_OK) {
    Done failed = std::move(*pending);
    delete pending;
    --pending_;
    if (failed) QMetaObject::invokeMethod(this, [failed] { failed(RedisReply{}); }, Qt::QueuedConnection);
  }
}

void RedisLink::subscribe(const QByteArray& channel, Handler handler) {
  channels_.insert(channel, std::move(handler));
  if (subscriber_) subscribeOn(channel);
}

void RedisLink::subscribeOn(const QByteArray& channel) {
  redisAsyncCommand(subscriber_, &RedisLink::onMessage, nullptr, "SUBSCRIBE %b", channel.constData(),
                    static_cast<size_t>(channel.size()));
}

void RedisLink::onReply(redisAsyncContext* context, void* reply, void* privdata) {
  std::unique_ptr<Done> done(static_cast<Done*>(privdata));
  auto* link = static_cast<RedisLink*>(context->data);
  if (link) {
    --link->pending_;
    link->lastReplyMs_ = monotonicMs();
  }
  if (!link || link->closing_ || !*done) return;  // freed by us: nobody waits
  RedisReply out;
  if (reply) {
    out.ok = true;
    readReply(static_cast<const redisReply*>(reply), out);
  }
  (*done)(out);
}

void RedisLink::onMessage(redisAsyncContext* context, void* reply, void* /*privdata*/) {
  auto* link = static_cast<RedisLink*>(context->data);
  const auto* r = static_cast<const redisReply*>(reply);
  if (!link || link->closing_ || !r || r->type != REDIS_REPLY_ARRAY || r->elements != 3) return;
  const redisReply* kind = r->element[0];
  if (kind->type != REDIS_REPLY_STRING || qstrncmp(kind->str, "message", 8) != 0) return;
  const QByteArray channel(r->element[1]->str, static_cast<qsizetype>(r->element[1]->len));
  auto it = link->channels_.constFind(channel);
  if (it == link->channels_.cend()) return;
  const Handler handler = *it;  // a handler may subscribe, which may move the table
  handler(QByteArray(r->element[2]->str, static_cast<qsizetype>(r->element[2]->len)));
}

void RedisLink::onDisconnect(const redisAsyncContext* context, int /*status*/) {
  if (auto* link = static_cast<RedisLink*>(context->data)) link->connectionLost(context);
}

void RedisLink::connectionLost(const redisAsyncContext* context) {
  if (closing_) return;
  // hiredis frees this context once we return; the other one we free.
  if (context == commands_) {
    commands_ = nullptr;
    detachAdapter(context, commandsAdapter_);
  } else if (context == subscriber_) {
    subscriber_ = nullptr;
    detachAdapter(context, subscriberAdapter_);
  } else {
    return;
  }
  // One link: both connections go and come back together.
  freeContext(commands_, commandsAdapter_);
  freeContext(subscriber_, subscriberAdapter_);
  markDown();
}

void RedisLink::markDown() {
  connected_ = 0;
  if (!down_) {
    down_ = true;
    logEvent(QStringLiteral("redis-lost"));
    Q_EMIT lost();
  }
  if (!commands_ && !subscriber_) retry_.start();
}

void RedisLink::reconnect() {
  if (commands_ || subscriber_ || lookup_ >= 0) return;
  // Not blocking here: whether Redis is back, the connect callbacks say. Given
  // a name, hiredis would look it up with a blocking getaddrinfo(): the name
  // is looked up off the loop, each time (it may have moved), and the
  // connections go to its address.
  auto connectOrRetry = [this](const QByteArray& host) {
    QString error;
    if (!connectTo(host, &error)) retry_.start();
  };
  if (!QHostAddress(QString::fromLatin1(address_.host)).isNull()) {
    connectOrRetry(address_.host);
    return;
  }
  lookup_ = QHostInfo::lookupHost(QString::fromUtf8(address_.host), this, [this, connectOrRetry](const QHostInfo& info) {
    lookup_ = -1;
    if (commands_ || subscriber_) return;
    const QByteArray address = chooseAddress(info);
    if (address.isEmpty()) {
      logEvent(QStringLiteral("redis-unresolved"), {{"host", QString::fromUtf8(address_.host)}});
      retry_.start();
      return;
    }
    connectOrRetry(address);
  });
}

}  // namespace lunor::signal
