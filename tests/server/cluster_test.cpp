// SPDX-License-Identifier: GPL-3.0-or-later
// Two lunor-signal instances sharing their rooms through a real Redis: a
// host on one, clients on the other.

#include <QtTest>

#include "raw_ws_client.h"
#include "redis_link.h"
#include "redis_server_process.h"
#include "rooms_fixture.h"
#include "signal_server_process.h"

using namespace lunor::test;

namespace {

const QString kPassword = kRightHash;

// A connection that has had its hello.
std::unique_ptr<RawWsClient> connectTo(SignalServerProcess& server, const QString& local = "127.0.0.1") {
  auto client = std::make_unique<RawWsClient>(server.port(), local);
  if (!client->handshake() || client->take("hello").isEmpty()) return nullptr;
  return client;
}

}  // namespace

class ClusterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void sessionAcrossInstancesAndTheOwnerMovesOn() {
    RedisServerProcess redis;
    QVERIFY2(redis.isReady(), redis.output().constData());
    const QStringList arguments{"--redis", redis.url(), "--free-failures-per-address", "2"};
    auto first = std::make_unique<SignalServerProcess>(arguments);
    SignalServerProcess second(arguments);
    QVERIFY2(first->isListening(), first->output().constData());
    QVERIFY2(second.isListening(), second.output().constData());

    auto host = connectTo(*first);
    QVERIFY(host);
    host->send(create(kRoom, kOwnerKey, kPassword));
    QVERIFY(!host->take("created").isEmpty());

    // A join from the other instance reaches the host; its answer and the
    // signals cross back and forth.
    auto client = connectTo(second);
    QVERIFY(client);
    client->send({{"type", "join"}, {"roomId", kRoom}, {"displayName", "Alice"}});
    const QJsonObject request = host->take("join-request");
    QCOMPARE(request.value("displayName").toString(), "Alice");
    host->send(answer("approve", request.value("clientId").toString()));
    QVERIFY(!client->take("approved").isEmpty());
    client->send(signalOf({{"sdp", "offer"}}));
    QCOMPARE(host->take("signal").value("data").toObject().value("sdp").toString(), "offer");
    host->send(signalOf({{"sdp", "answer"}}));
    QCOMPARE(client->take("signal").value("data").toObject().value("sdp").toString(), "answer");
    client.reset();
    QVERIFY(!host->take("peer-left").isEmpty());

    // Nobody else gets the room from the other instance, with or without a key.
    auto squatter = connectTo(second);
    QVERIFY(squatter);
    squatter->send(create(kRoom));
    QCOMPARE(squatter->take("error").value("code").toString(), "room-taken");
    squatter->send(create(kRoom, QString(64, 'b')));
    QCOMPARE(squatter->take("error").value("code").toString(), "room-taken");
    // A room created without a key is first come, first served across instances too.
    host->send(create("555000111"));
    QVERIFY(!host->take("created").isEmpty());
    squatter->send(create("555000111"));
    QCOMPARE(squatter->take("error").value("code").toString(), "room-taken");
    // Nor does a key take it, or bind its ID: once free, it is anyone's again.
    squatter->send(create("555000111", QString(64, 'd')));
    QCOMPARE(squatter->take("error").value("code").toString(), "room-taken");
    host->send(create(kRoom, kOwnerKey, kPassword));
    QVERIFY(!host->take("created").isEmpty());
    squatter->send(create("555000111"));
    QVERIFY(!squatter->take("created").isEmpty());

    // The owner's new connection on the same instance replaces its stale one,
    // and the room is still found from the other instance.
    auto fresh = connectTo(*first);
    QVERIFY(fresh);
    fresh->send(create(kRoom, kOwnerKey, kPassword));
    QVERIFY(!fresh->take("created").isEmpty());
    QVERIFY(host->waitClosed(5000));
    host = std::move(fresh);
    auto visitor = connectTo(second);
    QVERIFY(visitor);
    visitor->send({{"type", "join"}, {"roomId", kRoom}, {"displayName", "Eve"}});
    QCOMPARE(host->take("join-request").value("displayName").toString(), "Eve");
    visitor.reset();

    // One address guessing at rooms on both instances is counted once: two
    // misses at the first instance's room, the third at the second's locks it.
    auto otherHost = connectTo(second);
    QVERIFY(otherHost);
    otherHost->send(create("777000777", QString(64, 'c'), kPassword));
    QVERIFY(!otherHost->take("created").isEmpty());
    auto guesser = connectTo(second, "127.0.0.2");
    QVERIFY(guesser);
    for (const QString& room : {kRoom, kRoom, QString("777000777")}) {
      guesser->send(join(room, QString(64, '0')));
      const QJsonObject denied = guesser->take("unattended-denied");
      QVERIFY(!denied.isEmpty());
      QCOMPARE(denied.contains("retryAfterMs"), room == "777000777");
    }

    // The first instance dies; the host, back through the second, holds its room with its key.
    first->process().kill();
    QVERIFY(host->waitClosed(5000));
    auto back = connectTo(second);
    QVERIFY(back);
    back->send(create(kRoom, kOwnerKey, kPassword));
    QVERIFY(!back->take("created").isEmpty());
    auto late = connectTo(second);
    QVERIFY(late);
    late->send({{"type", "join"}, {"roomId", kRoom}, {"displayName", "Bob"}});
    QCOMPARE(back->take("join-request").value("displayName").toString(), "Bob");
  }

  // A device key given through one instance opens, from the other, the room
  // a guesser locked; the host's "forget-devices" revokes it for both.
  void deviceKeysAreShared() {
    RedisServerProcess redis;
    QVERIFY2(redis.isReady(), redis.output().constData());
    const QStringList arguments{"--redis", redis.url(), "--max-failures-per-room-per-day", "1"};
    SignalServerProcess first(arguments);
    SignalServerProcess second(arguments);
    QVERIFY2(first.isListening(), first.output().constData());
    QVERIFY2(second.isListening(), second.output().constData());
    auto host = connectTo(first);
    QVERIFY(host);
    host->send(create(kRoom, kOwnerKey, kPassword));
    QVERIFY(!host->take("created").isEmpty());
    auto attempt = [&](const QString& local, const QString& password, const QString& deviceKey) {
      auto client = connectTo(second, local);
      const QJsonValue shown = deviceKey.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(deviceKey);
      if (client) client->send(join(kRoom, password, shown));
      const bool answered =
          client && QTest::qWaitFor([&] { return client->has("approved") || client->has("unattended-denied"); }, 5000);
      const QJsonObject reply = !answered                  ? QJsonObject()
                                : client->has("approved") ? client->take("approved")
                                                          : client->take("unattended-denied");
      if (reply.value("type") == "approved") {
        client.reset();
        std::ignore = host->take("peer-left");
      }
      return reply;
    };
    const QString key = attempt("127.0.0.2", kPassword, {}).value("deviceKey").toString();
    QVERIFY(!key.isEmpty());
    QVERIFY(!attempt("127.0.0.3", QString(64, '0'), {}).value("locked").toBool());
    QVERIFY(attempt("127.0.0.4", kPassword, {}).value("locked").toBool());
    const QString renewed = attempt("127.0.0.5", kPassword, key).value("deviceKey").toString();
    QVERIFY(!renewed.isEmpty() && renewed != key);
    host->send({{"type", "forget-devices"}});
    QVERIFY(!host->take("devices-forgotten").isEmpty());
    QVERIFY(attempt("127.0.0.6", kPassword, renewed).value("locked").toBool());
  }

  // The link finds Redis again by its host name after losing it.
  void linkComesBackByName() {
    RedisServerProcess redis;
    QVERIFY2(redis.isReady(), redis.output().constData());
    auto address = parseRedisUrl(redis.url());
    QVERIFY(address);
    address->host = "localhost";
    RedisLink link(*address);
    QCOMPARE(link.open(), QString());
    QSignalSpy lost(&link, &RedisLink::lost);
    QSignalSpy restored(&link, &RedisLink::restored);
    int heard = 0;
    link.subscribe("lunor:test", [&](const QByteArray&) { ++heard; });
    // Subscribed once a message comes through; then Redis drops that connection.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          link.command({"PUBLISH", "lunor:test", "x"});
          return heard > 0;
        }(),
        5000);
    link.command({"CLIENT", "KILL", "TYPE", "pubsub"});
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 10000);
    std::optional<RedisReply> pong;
    link.command({"PING"}, [&](const RedisReply& reply) { pong = reply; });
    QTRY_VERIFY(pong.has_value());
    QCOMPARE(pong->text, QByteArray("PONG"));
    // Subscribed again.
    const int before = heard;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          link.command({"PUBLISH", "lunor:test", "x"});
          return heard > before;
        }(),
        5000);
  }
};

QTEST_GUILESS_MAIN(ClusterTest)
#include "cluster_test.moc"
