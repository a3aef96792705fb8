// SPDX-License-Identifier: GPL-3.0-or-later
// Who gets into a room (answers, passwords, budgets, device keys) and how
// often connections, addresses and rooms may act.

#include "protocol/signaling_messages.h"
#include "protocol/wire_text.h"
#include "rooms_fixture.h"
#include "turn_credentials.h"

using namespace lunor::test;

class AdmissionTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // A rejection (twice is a no-op), a waiting client leaving, the one let in
  // (others hear the room is busy), the kick that ends it on both sides.
  void hostsAnswersAreTold() {
    Bench b;
    const QString host = b.host(create(kRoom));
    const QString refused = b.connect("10.0.0.2", join(kRoom));
    b.frame(host, answer("reject", refused));
    b.frame(host, answer("reject", refused));
    QCOMPARE(b.count(refused, "rejected"), 1);
    QCOMPARE(b.count(host, "error"), 0);
    const QString leaving = b.connect("10.0.0.3", join(kRoom));
    b.rooms.disconnected(leaving, 1001);
    QCOMPARE(b.last(host, "peer-left").value("clientId").toString(), leaving);

    const QString client = b.connect("10.0.0.4");
    const QString waiting = b.connect("10.0.0.5");
    b.frame(client, join(kRoom));
    b.frame(waiting, join(kRoom));
    b.frame(host, answer("approve", client));
    QCOMPARE(b.count(client, "approved"), 1);
    QCOMPARE(b.count(waiting, "room-busy"), 1);
    const QString late = b.connect("10.0.0.6", join(kRoom));
    QCOMPARE(b.count(late, "room-busy"), 1);
    QCOMPARE(b.count(host, "join-request"), 4);
    b.frame(host, signalOf({{"type", "ice"}}));
    QCOMPARE(b.count(client, "signal"), 1);
    b.frame(host, answer("kick", client));
    QCOMPARE(b.count(client, "left"), 1);
    QCOMPARE(b.last(host, "peer-left").value("clientId").toString(), client);
  }

  // The code's halves go host to client at its door, in order, once each, and
  // only for a join that sealed its own.
  void codeHalvesGoInOrderOnce() {
    Bench b;
    const QString host = b.host(create(kRoom));
    const QString other = b.host(create("other-room"));
    QJsonObject sealed = join(kRoom);
    sealed.insert("commit", QString(QByteArray(32, 'c').toBase64()));
    const QString client = b.connect("10.0.0.2", sealed);
    const QString plain = b.connect("10.0.0.3", join(kRoom));
    QCOMPARE(b.output.ofType(host, "join-request").first().value("commit").toString(), sealed.value("commit").toString());
    const QByteArray fp("sha-256 AB:CD"), nonce(16, 'n');
    b.frame(client, lunor::signaling::joinReveal(fp, nonce));  // before the host's half: nowhere
    b.frame(other, lunor::signaling::joinCode(client, fp, nonce));  // not its room
    b.frame(plain, lunor::signaling::joinCode(client, fp, nonce));  // not a host
    b.frame(host, lunor::signaling::joinCode(plain, fp, nonce));   // nothing sealed
    QCOMPARE(b.count(host, "join-reveal"), 0);
    QCOMPARE(b.count(client, "join-code"), 0);
    QCOMPARE(b.count(plain, "join-code"), 0);
    for (int i = 0; i < 2; ++i) {
      b.frame(host, lunor::signaling::joinCode(client, fp, nonce));
      b.frame(client, lunor::signaling::joinReveal("sha-256 EF", nonce));
    }
    QCOMPARE(b.count(client, "join-code"), 1);
    const QJsonObject code = b.last(client, "join-code");
    QVERIFY(!code.contains("clientId"));
    QCOMPARE(code.value("fingerprint").toString(), QString(fp));
    QCOMPARE(b.count(host, "join-reveal"), 1);
    QCOMPARE(b.last(host, "join-reveal").value("clientId").toString(), client);
    QCOMPARE(b.last(host, "join-reveal").value("fingerprint").toString(), QString("sha-256 EF"));
  }

  // A bounded queue of requests; a picture past its bound dropped from its request.
  void waitingJoinsAreBounded() {
    ServerLimits limits;
    limits.maxPendingJoinsPerRoom = 3;
    limits.maxAvatarBytes = 1000;
    Bench b(limits);
    const QString host = b.host(create(kRoom));
    for (int size : {2000, 500, 0}) {
      QJsonObject request = join(kRoom);
      if (size > 0) request.insert("avatar", QString(size, 'A'));
      b.frame(b.connect(QString("10.0.%1.2").arg(size / 100)), request);
    }
    const auto requests = b.output.ofType(host, "join-request");
    QCOMPARE(requests.size(), 3);
    QVERIFY(!requests[0].contains("avatar"));
    QVERIFY(requests[1].contains("avatar"));
    const QString fourth = b.connect("10.0.0.7", join(kRoom));
    QCOMPARE(b.count(fourth, "room-busy"), 1);
    QCOMPARE(b.count(host, "join-request"), 3);
  }

  // Without a password the client is asked for one (the host sees it
  // pending); a wrong digest is refused, the right one admits.
  void unattendedRoomAdmitsTheRightDigestOnly() {
    Bench b;
    const QString host = b.host(create(kRoom, {}, kRightHash));
    const QString client = b.connect("10.0.0.2", join(kRoom));
    QCOMPARE(b.count(client, "require-unattended"), 1);
    const QJsonObject request = b.last(host, "join-request");
    QCOMPARE(request.value("unattended"), QJsonValue(true));
    QCOMPARE(request.value("awaitingPassword"), QJsonValue(true));
    b.frame(client, join(kRoom, kWrongHash));
    QCOMPARE(b.count(client, "unattended-denied"), 1);
    QCOMPARE(b.count(host, "peer-joined"), 0);
    b.frame(client, join(kRoom, kRightHash));
    QCOMPARE(b.count(client, "approved"), 1);
    QCOMPARE(b.last(host, "unattended-joined").value("displayName").toString(), QString("Zoé"));
    QCOMPARE(b.last(host, "peer-joined").value("clientId").toString(), client);
    QCOMPARE(b.last(host, "peer-joined").value("unattended"), QJsonValue(true));
  }

  // Three free failures, then waits that double; while locked even the
  // right digest is refused, with the time left. The lock is the guesser's
  // own: the owner, from another address, gets in meanwhile.
  void wrongPasswordsBackOff() {
    Bench b;
    const QString host = b.host(create(kRoom, kOwnerKey, kRightHash));
    const QString guesser = b.connect("10.6.6.6");
    auto attempt = [&](const QString& hash) {
      b.frame(guesser, join(kRoom, hash));
      return b.output.sent.value(guesser).last();
    };
    for (int i = 0; i < 3; ++i) QCOMPARE(attempt(kWrongHash), (QJsonObject{{"type", "unattended-denied"}}));
    QCOMPARE(attempt(kWrongHash).value("retryAfterMs").toInt(), 1000);
    b.now += 400;
    QCOMPARE(attempt(kRightHash).value("retryAfterMs").toInt(), 600);
    b.now += 600;
    QCOMPARE(attempt(kWrongHash).value("retryAfterMs").toInt(), 2000);

    const QString owner = b.connect("10.0.0.2", join(kRoom, kRightHash));
    QCOMPARE(b.count(owner, "approved"), 1);
    b.frame(host, answer("kick", owner));
    b.now += 2000;
    attempt(kRightHash);
    QCOMPARE(b.count(guesser, "approved"), 1);
  }

  // Forty addresses spend the room's daily budget, each within its back-off
  // (a botnet): no password opens it, the host hears once; a day later it opens.
  void budgetSpentByManyAddresses() {
    const ServerLimits limits;  // 200 wrong passwords a day; 3 free per room and address
    Bench b(limits);
    const QString host = b.host(create(kRoom, kOwnerKey, kRightHash));
    QStringList guessers;
    for (int n = 1; n <= 40; ++n) guessers << b.connect(QString("10.0.1.%1").arg(n));
    for (int round = 1; round * 40 <= limits.maxFailuresPerRoomPerDay; ++round) {
      for (const QString& guesser : guessers) {
        b.frame(guesser, join(kRoom, kWrongHash));
        QCOMPARE(b.output.sent.value(guesser).last().value("type").toString(), QString("unattended-denied"));
        QVERIFY(!b.output.sent.value(guesser).last().value("locked").toBool());
      }
      b.now += limits.maxPasswordWaitMs;  // every address's wait is over
    }
    auto locked = [&](const QString& peer, const QString& hash) {
      b.frame(peer, join(kRoom, hash));
      return b.output.sent.value(peer).last().value("locked").toBool();
    };
    QVERIFY(locked(guessers.first(), kWrongHash));
    QVERIFY(locked(b.connect("10.0.3.1"), kRightHash));
    QVERIFY(locked(b.connect("10.0.3.2"), kRightHash));
    QCOMPARE(b.count(host, "unattended-locked"), 1);
    b.now += 24 * 3600 * 1000LL;
    const QString tomorrow = b.connect("10.0.3.3", join(kRoom, kRightHash));
    QCOMPARE(b.count(tomorrow, "approved"), 1);
  }

  // A room whose day five guessers spent still admits, with the password, a
  // device it admitted before showing its key from another address; the key
  // is the room's, and only while the host keeps it and its password.
  void deviceKeyGetsPastTheDailyLock_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("shows");  // the key the device shows
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("its key") << "" << "its" << kRightHash << "approved";
    QTest::newRow("its key, wrong password") << "" << "its" << kWrongHash << "denied";
    QTest::newRow("no key") << "" << "none" << kRightHash << "locked";
    QTest::newRow("key in capitals") << "" << "capitals" << kRightHash << "locked";
    QTest::newRow("key not a string") << "" << "number" << kRightHash << "locked";
    QTest::newRow("another room's key") << "" << "other room's" << kRightHash << "locked";
    QTest::newRow("host forgot the devices") << "forget" << "its" << kRightHash << "locked";
    QTest::newRow("host set a new password") << "new password" << "its" << kOtherHash << "locked";
    QTest::newRow("host came back, same password") << "same password" << "its" << kRightHash << "approved";
    // A former helper spreading guesses with the key over many addresses.
    QTest::newRow("its key, its own budget spent") << "guesses with the key" << "its" << kRightHash << "locked";
  }
  void deviceKeyGetsPastTheDailyLock() {
    QFETCH(QString, meanwhile);
    QFETCH(QString, shows);
    QFETCH(QString, password);
    QFETCH(QString, outcome);
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 5;
    limits.maxFailuresPerDevicePerDay = 3;
    limits.freeFailuresPerAddress = 100;
    limits.freeFailuresPerRoomAddress = 100;
    Bench b(limits);
    const QString host = b.host(create(kRoom, kOwnerKey, kRightHash));
    b.host(create("555555555", kOtherKey, kRightHash), "10.0.0.5");
    auto admitted = [&](const QString& room) {
      const QString device = b.connect("10.0.0.2", join(room, kRightHash));
      b.rooms.disconnected(device, 1000);
      return b.last(device, "approved").value("deviceKey").toString();
    };
    const QString key = admitted(kRoom);
    const QString otherRoomKey = admitted("555555555");
    QVERIFY(lunor::isHex64(key) && lunor::isHex64(otherRoomKey) && key != otherRoomKey);

    for (int i = 0; i < 5; ++i) b.frame(b.connect(QString("10.6.6.%1").arg(i)), join(kRoom, kWrongHash));
    const QString stranger = b.connect("10.0.0.3", join(kRoom, kRightHash));
    QVERIFY(b.last(stranger, "unattended-denied").value("locked").toBool());

    if (meanwhile == "guesses with the key") {
      for (int i = 0; i < 3; ++i) {
        const QString guesser = b.connect(QString("10.7.7.%1").arg(i), join(kRoom, kWrongHash, key));
        QVERIFY(!b.last(guesser, "unattended-denied").value("locked").toBool());  // still past the lock
      }
    } else if (meanwhile == "forget") {
      b.frame(host, {{"type", "forget-devices"}});
      QCOMPARE(b.count(host, "devices-forgotten"), 1);
    } else if (!meanwhile.isEmpty()) {
      const QString back = b.host(create(kRoom, kOwnerKey, meanwhile == "new password" ? kOtherHash : kRightHash));
      QCOMPARE(b.count(back, "created"), 1);
    }
    const QJsonValue shown = shows == "its"            ? QJsonValue(key)
                             : shows == "capitals"     ? QJsonValue(key.toUpper())
                             : shows == "number"       ? QJsonValue(42)
                             : shows == "other room's" ? QJsonValue(otherRoomKey)
                                                       : QJsonValue(QJsonValue::Undefined);
    const QString laptop = b.connect("192.0.2.80", join(kRoom, password, shown));
    if (outcome == "approved") {
      const QString renewed = b.last(laptop, "approved").value("deviceKey").toString();
      QVERIFY(lunor::isHex64(renewed) && renewed != key);
    } else {
      QCOMPARE(b.count(laptop, "unattended-denied"), 1);
      QCOMPARE(b.last(laptop, "unattended-denied").value("locked").toBool(), outcome == "locked");
      QCOMPARE(b.count(laptop, "approved"), 0);
    }
  }

  // A TURN host given once goes out over UDP and TCP (and TLS with a port),
  // for networks that block UDP.
  void turnUrlsComeOverEveryTransport_data() {
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<int>("tlsPort");
    QTest::addColumn<QStringList>("handed");
    QTest::newRow("a host") << QStringList{"turn:t.example.org:3478"} << 0
                            << QStringList{"turn:t.example.org:3478?transport=udp", "turn:t.example.org:3478?transport=tcp"};
    QTest::newRow("no port, and TLS")
        << QStringList{"turn:10.0.0.1"} << 443
        << QStringList{"turn:10.0.0.1:3478?transport=udp", "turn:10.0.0.1:3478?transport=tcp",
                       "turns:10.0.0.1:443?transport=tcp"};
    QTest::newRow("transports named stay") << QStringList{"turn:h:3478?transport=tcp", "turns:h:5349"} << 0
                                           << QStringList{"turn:h:3478?transport=tcp", "turns:h:5349"};
    QTest::newRow("IPv6") << QStringList{"turn:[2001:db8::1]:3478"} << 0
                          << QStringList{"turn:[2001:db8::1]:3478?transport=udp", "turn:[2001:db8::1]:3478?transport=tcp"};
    QTest::newRow("not TURN") << QStringList{"stun:h:3478"} << 0 << QStringList{};
  }
  void turnUrlsComeOverEveryTransport() {
    QFETCH(QStringList, given);
    QFETCH(int, tlsPort);
    QFETCH(QStringList, handed);
    QCOMPARE(lunor::signal::turnUrlVariants(given, tlsPort), handed);
  }

  // Each admission gives the client a new key in place of the one it showed;
  // a room keeps its newest devices only.
  void deviceKeysAreReplacedAndBounded() {
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 1;
    limits.maxDevicesPerRoom = 2;
    Bench b(limits);
    const QString host = b.host(create(kRoom, kOwnerKey, kRightHash));
    // Admitted once each: the host approves the first, the others know the password.
    QStringList keys;
    for (int i = 0; i < 3; ++i) {
      const QString device = b.connect(QString("10.0.1.%1").arg(i));
      b.frame(device, join(kRoom, i == 0 ? QJsonValue::Undefined : QJsonValue(kRightHash)));
      if (i == 0) b.frame(host, answer("approve", device));
      keys << b.last(device, "approved").value("deviceKey").toString();
      b.rooms.disconnected(device, 1000);
    }
    b.frame(b.connect("10.6.6.6"), join(kRoom, kWrongHash));  // the day's budget is spent
    auto admits = [&](const QString& key) {
      const QString device = b.connect("192.0.2.80", join(kRoom, kRightHash, key));
      b.rooms.disconnected(device, 1000);
      return b.last(device, "approved").value("deviceKey").toString();
    };
    QVERIFY(admits(keys[0]).isEmpty());  // the oldest of three went
    const QString renewed = admits(keys[2]);
    QVERIFY(lunor::isHex64(renewed));
    QVERIFY(admits(keys[2]).isEmpty());  // replaced by the one it was given
    QVERIFY(!admits(renewed).isEmpty());
    QVERIFY(!admits(keys[1]).isEmpty());
  }

  // A device lookup answered later reaches only a connection still waiting for it.
  void deviceAnswerComingLater_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("told");
    QTest::newRow("nothing") << "" << "approved";
    QTest::newRow("the device left") << "left" << "";
    QTest::newRow("it asked again") << "joined again" << "approved";
    QTest::newRow("the room closed") << "room closed" << "left";
    QTest::newRow("another got in") << "another admitted" << "room-busy";
  }
  void deviceAnswerComingLater() {
    QFETCH(QString, meanwhile);
    QFETCH(QString, told);
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 1;
    DeferredOwnerStore store;
    Bench b(limits, &store);
    const QString host = b.host(create(kRoom, kOwnerKey, kRightHash));
    store.release();
    QCOMPARE(b.count(host, "created"), 1);
    const QString first = b.connect("10.0.0.2", join(kRoom, kRightHash));
    const QString key = b.last(first, "approved").value("deviceKey").toString();
    b.frame(host, answer("kick", first));
    b.frame(b.connect("10.6.6.6"), join(kRoom, kWrongHash));

    const QString device = b.connect("192.0.2.80", join(kRoom, kRightHash, key));
    QCOMPARE(store.waiting(), 1);
    QCOMPARE(b.heard(device), (QStringList{"hello", "joined"}));
    if (meanwhile == "left") {
      b.rooms.disconnected(device, 1000);
    } else if (meanwhile == "joined again") {
      b.now += 2000;
      b.frame(device, join(kRoom, kRightHash, key));  // the first answer is for nobody now
    } else if (meanwhile == "room closed") {
      b.rooms.disconnected(host, 1000);
    } else if (meanwhile == "another admitted") {
      const QString other = b.connect("10.0.0.7", join(kRoom));
      b.frame(host, answer("approve", other));
      QCOMPARE(b.count(other, "approved"), 1);
    }
    store.release();
    QStringList types = b.heard(device);
    types.removeAll("hello");
    types.removeAll("joined");
    types.removeAll("peer-joined");
    QCOMPARE(types, told.isEmpty() ? QStringList() : QStringList{told});
    QCOMPARE(b.count(host, "peer-joined"), meanwhile == "another admitted" ? 2 : 1 + (told == "approved"));
  }

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

  // One join per cooldown; one the host turned away waits longer before
  // knocking again there (no flooding its host).
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

QTEST_GUILESS_MAIN(AdmissionTest)
#include "admission_test.moc"
