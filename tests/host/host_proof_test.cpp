// SPDX-License-Identifier: GPL-3.0-or-later
// The host's door: only the password on this very connection gets in; guesses
// meet the budget; known devices get past a day spent by others.

#include <QtTest>

#include "host/host_proof.h"
#include "host/password_budget.h"
#include "stepped_clock.h"

using namespace lunor;
using namespace lunor::proof;

Q_DECLARE_METATYPE(lunor::proof::Binding)

namespace {

const Binding kBinding{"sha-256 AA:BB", "sha-256 CC:DD"};
const QString kPassword = QStringLiteral("tournesol");

// The host's proof and what it sent, with a client's moves.
struct Door {
  test::SteppedClock clock;
  PasswordBudget budget{clock};
  std::vector<Message> sent;
  HostProof host{budget, [this](const QByteArray& text) {
                   const auto message = decode(text);
                   QVERIFY(message);
                   sent.push_back(*message);
                 }};
  std::unique_ptr<Exchange> client;
  Identity identity = Identity::generate();

  explicit Door(std::vector<QByteArray> devices = {}) {
    host.open(kBinding, {kPassword, identity, std::move(devices)});
  }
  const Hello& hello() const { return std::get<Hello>(sent.front()); }
  template <typename T>
  const T* last() const { return std::get_if<T>(&sent.back()); }

  // A start with `password` as the client sees the connection.
  void start(const QString& password, const Binding& seen = kBinding, const QByteArray& deviceKey = {}) {
    client = std::make_unique<Exchange>(password.toUtf8(), hello().sid, seen);
    Start start{client->share(), {}, {}};
    if (!deviceKey.isEmpty()) {
      const QByteArray digest = deviceDigest(deviceKey);
      start.deviceId = deviceId(digest);
      start.deviceProof = deviceProof(digest, hello().sid, seen);
    }
    host.receive(encode(start));
  }
  // The whole try: what the host said last, and whether it let the client in.
  HostProof::Outcome attempt(const QString& password, const Binding& seen = kBinding, const QByteArray& deviceKey = {}) {
    start(password, seen, deviceKey);
    const Reply* reply = last<Reply>();
    if (!reply || !client->complete(reply->share, false)) return HostProof::Outcome::Pending;
    // A client whose password is wrong sees it here; it confirms anyway, as a hostile one would.
    return host.receive(encode(Confirm{client->clientConfirm()}));
  }
};

}  // namespace

class HostProofTest final : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void helloSignsTheConnection() {
    Door door;
    QCOMPARE(door.sent.size(), size_t(1));
    QCOMPARE(door.hello().hostKey, door.identity.publicKey);
    QVERIFY(verifyBinding(door.identity.publicKey, door.hello().sid, kBinding, door.hello().signature));
  }

  void tries_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<Binding>("seen");
    QTest::addColumn<bool>("admitted");
    QTest::newRow("right password") << kPassword << kBinding << true;
    QTest::newRow("wrong password") << QString("tournesoI") << kBinding << false;
    QTest::newRow("relay in the middle") << kPassword << Binding{"sha-256 EE:FF", kBinding.clientFingerprint} << false;
  }
  void tries() {
    QFETCH(QString, password);
    QFETCH(Binding, seen);
    QFETCH(bool, admitted);
    Door door;
    QCOMPARE(door.attempt(password, seen) == HostProof::Outcome::Proved, admitted);
    if (admitted) {
      const Welcome* welcome = door.last<Welcome>();
      QVERIFY(welcome && welcome->deviceKey.size() == kKeyBytes);
      QCOMPARE(door.host.newDeviceDigest(), deviceDigest(welcome->deviceKey));
    } else {
      QVERIFY(door.last<Refusal>() && door.last<Refusal>()->tried);
      QVERIFY(door.host.newDeviceDigest().isEmpty());
    }
  }

  // What a hostile client sends admits nobody: messages out of turn, a
  // confirmation made up, a share that is no point.
  void hostileClient() {
    Door door;
    QCOMPARE(door.host.receive(encode(Confirm{QByteArray(32, 'c')})), HostProof::Outcome::Pending);
    QCOMPARE(door.host.receive(encode(Welcome{})), HostProof::Outcome::Pending);
    QCOMPARE(door.host.receive("{\"t\":\"start\""), HostProof::Outcome::Pending);
    door.host.receive(encode(Start{QByteArray(32, '\0'), {}, {}}));
    QVERIFY(door.last<Refusal>());
    door.start(kPassword);
    QCOMPARE(door.host.receive(encode(Confirm{QByteArray(32, 'c')})), HostProof::Outcome::Pending);
    QVERIFY(door.last<Refusal>());
    // The earlier try is spent: its real confirmation comes too late.
    QCOMPARE(door.host.receive(encode(Confirm{door.client->clientConfirm()})), HostProof::Outcome::Pending);
  }

  // Three free wrong passwords, then a wait; the right password within it
  // is not even tried; once the wait is over it gets in.
  void guessesWait() {
    Door door;
    for (int i = 0; i < PasswordBudget::kFreeFailures; ++i) {
      door.attempt("non");
      QVERIFY(!door.last<Refusal>()->retryAfterMs);
    }
    door.attempt("non");
    const auto wait = door.last<Refusal>()->retryAfterMs;
    QVERIFY(wait && *wait > 0 && *wait <= 1000);
    QCOMPARE(door.attempt(kPassword), HostProof::Outcome::Pending);
    QVERIFY(!door.last<Refusal>()->tried);
    door.clock.advance(1000);
    QCOMPARE(door.attempt(kPassword), HostProof::Outcome::Proved);
  }

  // A day's worth of guesses by others locks everyone out but the devices
  // let in before, each within ten wrong passwords of its own.
  void knownDevicesGetPastASpentDay() {
    const QByteArray deviceKey = newDeviceKey();
    Door door({deviceDigest(newDeviceKey()), deviceDigest(deviceKey)});
    for (int i = 0; i < PasswordBudget::kFailuresPerDay; ++i) {
      door.attempt("non");
      door.clock.advance(PasswordBudget::kLongestWait);
    }
    QCOMPARE(door.attempt(kPassword), HostProof::Outcome::Pending);
    QVERIFY(door.last<Refusal>()->locked);
    QCOMPARE(door.attempt(kPassword, kBinding, newDeviceKey()), HostProof::Outcome::Pending);  // not one of ours
    QCOMPARE(door.attempt(kPassword, kBinding, deviceKey), HostProof::Outcome::Proved);
    QCOMPARE(door.host.provedDevice(), deviceDigest(deviceKey));
  }
  void aDeviceHasADayOfItsOwn() {
    const QByteArray deviceKey = newDeviceKey();
    Door door({deviceDigest(deviceKey)});
    for (int i = 0; i < PasswordBudget::kFailuresPerDevicePerDay; ++i) {
      door.attempt("non", kBinding, deviceKey);
      door.clock.advance(PasswordBudget::kLongestWait);
    }
    // Past its day the device is anyone: everyone's budget, still open, lets it try.
    QCOMPARE(door.attempt(kPassword, kBinding, deviceKey), HostProof::Outcome::Proved);
    QVERIFY(door.host.provedDevice().isEmpty());
  }

  // What the budget counted outlives a restart of the host, on the wall
  // clock; a clock set back gives nobody more tries, and a saved budget
  // that makes no sense gives none either.
  void theBudgetOutlivesARestart_data() {
    QTest::addColumn<int>("failures");
    QTest::addColumn<qint64>("awayMs");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<bool>("locked");
    const qint64 hour = 3600'000;
    QTest::newRow("a spent day, back at once") << PasswordBudget::kFailuresPerDay << qint64(60'000) << false << true;
    QTest::newRow("a spent day, clock set back") << PasswordBudget::kFailuresPerDay << -hour << false << true;
    QTest::newRow("a spent day, back the next day") << PasswordBudget::kFailuresPerDay << 25 * hour << true << false;
    QTest::newRow("backing off, back at once") << PasswordBudget::kFreeFailures + 3 << qint64(0) << false << false;
    QTest::newRow("backing off, back after the wait") << PasswordBudget::kFreeFailures + 3 << qint64(4000) << true << false;
  }
  void theBudgetOutlivesARestart() {
    QFETCH(int, failures);
    QFETCH(qint64, awayMs);
    QFETCH(bool, allowed);
    QFETCH(bool, locked);
    const QByteArray device = deviceDigest(newDeviceKey());
    const qint64 wall = 1'800'000'000'000;
    QByteArray saved;
    {
      test::SteppedClock clock;
      PasswordBudget budget(clock);
      for (int i = 0; i < failures; ++i) budget.failed({});
      budget.failed(device);
      saved = budget.saved(wall);
    }
    test::SteppedClock clock;
    PasswordBudget budget(clock);
    budget.restore(saved, wall + awayMs);
    const PasswordBudget::Verdict verdict = budget.mayTry({});
    QCOMPARE(verdict.allowed, allowed);
    QCOMPARE(verdict.locked, locked);
    QCOMPARE(budget.spentToday(), locked);
    for (const QByteArray& junk : {QByteArray("{"), QByteArray("{\"savedAt\":1,\"everyone\":{\"today\":-5}}")}) {
      PasswordBudget fresh(clock);
      fresh.restore(junk, wall);
      QVERIFY(fresh.mayTry({}).allowed);
    }
  }
};

QTEST_GUILESS_MAIN(HostProofTest)
#include "host_proof_test.moc"
