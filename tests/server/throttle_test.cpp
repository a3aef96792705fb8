// SPDX-License-Identifier: GPL-3.0-or-later
// How often connections, addresses and rooms may act: messages, joins,
// room IDs asked for, prompts shown to a host, and the back-off tables.

#include "rooms_fixture.h"

using namespace lunor::test;

class ThrottleTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // Past its burst a connection's messages are dropped, with a warning;
  // past the drops allowed it is closed. Others are served as before.
  void floodIsThrottledThenClosed() {
    ServerLimits limits;
    limits.messagesPerSecond = 50;
    limits.burstMessages = 60;
    limits.droppedBeforeClose = 100;
    Bench b(limits);
    const QString flood = b.connect("10.6.6.6");
    for (int i = 0; i < 400 && b.output.closed.isEmpty(); ++i) b.frame(flood, {{"type", "teleport"}});
    QCOMPARE(b.output.closed, QStringList{flood});
    QCOMPARE(b.output.closeCodes, QList<int>{1008});
    QCOMPARE(b.code(flood), QString("rate-limited"));
    QCOMPARE(b.count(b.host(create(kRoom)), "created"), 1);
  }

  // A connection may ask to join once per cooldown; one the host turned
  // away waits longer before it knocks at that room again. A refused client
  // cannot flood its host with requests.
  void joinsCoolDown() {
    Bench b;
    const QString host = b.host(create(kRoom));
    const QString pest = b.connect("10.6.6.6");
    for (int i = 0; i < 50; ++i) b.frame(pest, join(kRoom));
    QCOMPARE(b.count(host, "join-request"), 1);
    QCOMPARE(b.code(pest), QString("join-cooldown"));
    b.frame(host, answer("reject", pest));
    b.now += 1500;  // past the join cooldown, not the refusal's
    b.frame(pest, join(kRoom));
    QCOMPARE(b.count(host, "join-request"), 1);
    b.now += 5000;
    b.frame(pest, join(kRoom));
    QCOMPARE(b.count(host, "join-request"), 2);
  }

  // Fresh connections knocking one after the other (each refused at once)
  // reach the host a bounded number of times a minute.
  void joinRequestsToAHostAreBounded() {
    ServerLimits limits;
    limits.maxJoinRequestsPerRoomPerMinute = 5;
    Bench b(limits);
    const QString host = b.host(create(kRoom));
    int turnedAway = 0;
    for (int i = 0; i < 20; ++i) {
      const QString knocker = b.connect(QString("10.1.0.%1").arg(i));
      b.frame(knocker, join(kRoom));
      turnedAway += b.count(knocker, "room-busy");
      b.frame(host, answer("reject", knocker));
    }
    QCOMPARE(b.count(host, "join-request"), 5);
    QCOMPARE(turnedAway, 15);
    b.now += 61'000;
    b.frame(b.connect("10.2.0.1"), join(kRoom));
    QCOMPARE(b.count(host, "join-request"), 6);
  }

  // One address asks for a bounded number of distinct room IDs a minute,
  // whether it joins or creates them; an ID it asked for already is free.
  void enumerationIsBounded_data() {
    QTest::addColumn<bool>("creates");
    QTest::newRow("joins") << false;
    QTest::newRow("creates") << true;
  }
  void enumerationIsBounded() {
    QFETCH(bool, creates);
    ServerLimits limits;
    limits.maxRoomIdsPerAddressPerMinute = 10;
    limits.joinCooldownMs = 1;
    Bench b(limits);
    const QString prober = b.connect("10.6.6.6");
    const QString answered = creates ? "created" : "room-not-found";
    auto ask = [&](const QString& room) {
      b.now += 2;
      b.frame(prober, creates ? create(room) : join(room));
      return b.count(prober, answered);
    };
    for (int i = 0; i < 10; ++i) ask(QString::number(100000000 + i));
    QCOMPARE(ask("200000000"), 10);
    QCOMPARE(b.code(prober), QString("too-many-rooms"));
    QCOMPARE(ask("100000009"), 11);
    b.now += 61'000;
    QCOMPARE(ask("200000000"), 12);
  }

  // The back-off tables stay within their bound and forget idle keys on
  // expiry, but not a lock that outlives the idle time.
  void backoffTableIsBoundedAndExpires() {
    qint64 now = 0;
    PasswordBackoff::Policy policy;
    policy.maxEntries = 100;
    policy.forgetAfterMs = 1000;
    PasswordBackoff backoff(policy, [&now] { return now; });
    for (int i = 0; i < 10'000; ++i) backoff.recordFailure(QString("10.0.%1.%2").arg(i / 256).arg(i % 256));
    QCOMPARE(backoff.trackedKeys(), 100);
    now += 500;
    backoff.expire();
    QCOMPARE(backoff.trackedKeys(), 100);
    now += 600;
    backoff.expire();
    QCOMPARE(backoff.trackedKeys(), 0);

    policy.freeFailures = 0;
    policy.firstLockMs = 5000;
    PasswordBackoff locking(policy, [&now] { return now; });
    QCOMPARE(locking.recordFailure("a"), 5000);
    now += 2000;
    locking.expire();
    QCOMPARE(locking.retryAfterMs("a"), 3000);
  }
};

QTEST_GUILESS_MAIN(ThrottleTest)
#include "throttle_test.moc"
