#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include "fake_environment.h"
#include "host/host_role.h"
#include "session/negotiation.h"
#include "session/remote_session.h"
#include "session_probe.h"
#include "test_ws_server.h"

using namespace lunor;
using lunor::test::FakeEnvironment;
using lunor::test::TestWsServer;
using State = lunor::rtc::IceConnectionState;

Q_DECLARE_METATYPE(lunor::rtc::IceConnectionState)

namespace {

QJsonObject endPayload(const QJsonValue& reason) {
  QJsonObject data{{"type", "end"}};
  if (!reason.isUndefined()) data.insert("reason", reason);
  return QJsonObject{{"type", "signal"}, {"data", data}};
}

QStringList endReasonsSent(const TestWsServer& server) {
  QStringList reasons;
  for (const auto& data : lunor::test::signalPayloads(server, "end")) reasons << data.value("reason").toString();
  return reasons;
}

}  // namespace

class RemoteSessionTest : public QObject {
  Q_OBJECT

  // Starts `session` as host towards `server` and waits for its room request.
  static bool startHostConnected(RemoteSession& session, TestWsServer& server) {
    session.startHost("123456789");
    const int before = server.receivedTypes().count("create");
    return QTest::qWaitFor([&] { return server.receivedTypes().count("create") > before; }, 10000) &&
           QTest::qWaitFor([&] { return session.status() == "En attente de connexion…"; }, 5000);
  }

 private Q_SLOTS:
  void createdSessionIsReady() {
    FakeEnvironment environment;
    RemoteSession session(environment);
    QTRY_COMPARE(session.status(), QString("Prêt"));
    QCOMPARE(session.connectionState(), QString("déconnecté"));
    QCOMPARE(session.currentQualityRaw(), QString("medium"));
    QTRY_VERIFY(session.logs().value(0).endsWith("] ✅ WebRTC factory initialisée"));
  }

  void logKeepsTheNewest200Lines() {
    FakeEnvironment environment;
    RemoteSession session(environment);
    QSignalSpy changed(&session, &RemoteSession::logsChanged);
    for (int i = 0; i < 250; ++i) session.log(QString("line %1").arg(i));
    QTRY_VERIFY(session.logs().value(RemoteSession::kMaxLogLines - 1).endsWith("line 249"));
    const QStringList logs = session.logs();
    QCOMPARE(logs.size(), RemoteSession::kMaxLogLines);
    QVERIFY(logs.first().endsWith("] line 50"));
    QVERIFY(QRegularExpression(R"(^\[\d\d:\d\d:\d\d\] line 50$)").match(logs.first()).hasMatch());
  }

  void logLinesFromAnotherThreadKeepTheirOrder() {
    FakeEnvironment environment;
    RemoteSession session(environment);
    QThread* worker = QThread::create([&session] {
      for (int i = 0; i < 100; ++i) session.log(QString("w%1").arg(i));
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QTRY_VERIFY(session.logs().size() >= 100);
    const QStringList logs = session.logs();
    int last = -1;
    for (const auto& line : logs) {
      const int at = line.indexOf("] w");
      if (at < 0) continue;
      const int n = line.mid(at + 3).toInt();
      QCOMPARE(n, last + 1);
      last = n;
    }
    QCOMPARE(last, 99);
  }

  void clientJoinsOneSecondAfterStart() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QElapsedTimer clock;
    clock.start();
    session.startClient("987654321");
    QTRY_VERIFY_WITH_TIMEOUT(server.receivedTypes().contains("join"), 5000);
    QVERIFY(clock.elapsed() >= 900);
    const QJsonObject join = server.receivedObjects().first();
    QCOMPARE(join.value("roomId").toString(), QString("987654321"));
    QVERIFY(join.contains("displayName"));
    QTRY_COMPARE(session.status(), QString("Connexion à l'hôte..."));
  }

  void clientStoppedWithinItsFirstSecondNeverJoins() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    session.startClient("987654321");
    QTRY_COMPARE(server.connectionCount(), 1);
    session.stop("Fenêtre fermée");
    QTest::qWait(1500);
    QVERIFY(!server.receivedTypes().contains("join"));
  }

  void messageFromTheOldConnectionAfterTeardownChangesNothing() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(startHostConnected(session, server));

    // The frame is on its way (in the socket buffer, not yet read: no event
    // is handled in between) when the session ends; delivering it would end
    // the session a second time.
    server.sendJson(endPayload("late"));
    QCOMPARE(server.unsentBytes(), 0);  // all of it has left for the session's socket
    session.stop("Session terminée par l’hôte");
    QTest::qWait(300);

    QCOMPARE(session.endReason(), QString("Session terminée par l’hôte"));
    for (const auto& line : session.logs()) QVERIFY2(!line.contains("📨 Message"), qPrintable(line));
    QCOMPARE(environment.panelsFake.calls.count(
                 "endSession(Session terminée par l’hôte|0s|10)"),
             1);
  }

  void iceDownTimer_data() {
    QTest::addColumn<State>("first");
    QTest::addColumn<int>("secondAfterMs");  // -1: no second report
    QTest::addColumn<State>("second");
    QTest::addColumn<bool>("recoversSilently");  // state comes back without an event
    QTest::addColumn<bool>("ends");

    QTest::newRow("disconnected, then connected within 2 s")
        << State::Disconnected << 300 << State::Connected << false << false;
    QTest::newRow("failed for 2 s") << State::Failed << -1 << State::Failed << false << true;
    QTest::newRow("closed for 2 s") << State::Closed << -1 << State::Closed << false << true;
    QTest::newRow("disconnected, then failed restarts the wait")
        << State::Disconnected << 300 << State::Failed << false << true;
    QTest::newRow("disconnected, back without an event")
        << State::Disconnected << -1 << State::Disconnected << true << false;
  }
  void iceDownTimer() {
    QFETCH(State, first);
    QFETCH(int, secondAfterMs);
    QFETCH(State, second);
    QFETCH(bool, recoversSilently);
    QFETCH(bool, ends);

    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(scripted.hostWithClient());
    auto* pc = scripted.connection();

    pc->reportIceState(State::Connected);
    QTRY_COMPARE(session.connectionState(), QString("connecté ✓"));
    QElapsedTimer clock;
    clock.start();
    pc->reportIceState(first);
    if (secondAfterMs >= 0) {
      QTest::qWait(secondAfterMs);
      pc->reportIceState(second);
      clock.restart();
    }
    if (recoversSilently) pc->state = State::Connected;

    if (ends) {
      QTRY_COMPARE_WITH_TIMEOUT(session.endReason(), QString("L’autre partie s’est déconnectée"),
                                6000);
      QVERIFY(clock.elapsed() >= 1900);
      QVERIFY(environment.panelsFake.calls.contains("hideFloatingHud"));
      // A silent end tells the peer nothing.
      QTest::qWait(100);
      QVERIFY(endReasonsSent(server).isEmpty());
    } else {
      QTest::qWait(RemoteSession::kIceDownGraceMs + 700);
      QVERIFY(session.endReason().isNull());
      QVERIFY(!pc->closed);
    }
  }

  void endedHostShowsPanelAndRecreatesItsRoom() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(startHostConnected(session, server));

    QElapsedTimer clock;
    clock.start();
    session.stop("Alice s’est déconnecté de votre ordinateur");
    QCOMPARE(session.status(), QString("Déconnecté"));
    QCOMPARE(environment.panelsFake.calls.count(
                 "endSession(Alice s’est déconnecté de votre ordinateur|0s|10)"),
             1);

    // A second end before the restart (a late "peer-left") changes nothing.
    session.endSession("Arrêt de la session", false, EndCause::PeerLeft);
    QCOMPARE(environment.panelsFake.calls.filter("endSession").size(), 1);

    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 2, 5000);
    QVERIFY(clock.elapsed() >= 550);
    QTRY_COMPARE(server.receivedTypes().count("create"), 2);
    QCOMPARE(endReasonsSent(server), QStringList{"Alice s’est déconnecté de votre ordinateur"});
    QCOMPARE(server.closeCodes(), QList<int>{1001});
    // The restart does not clear why the last session ended.
    QCOMPARE(session.endReason(), QString("Alice s’est déconnecté de votre ordinateur"));
    QTest::qWait(HostRole::kRestartDelayMs + 400);
    QCOMPARE(server.connectionCount(), 2);
  }

  void teardownResetsFieldsButKeepsTheEndReason() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(scripted.clientInRoom());
    auto* pc = scripted.connection();
    pc->reportIceState(State::Connected);
    QTRY_COMPARE(session.connectionState(), QString("connecté ✓"));
    QVERIFY(session.startedAt().isValid());
    QCOMPARE(environment.addressBookFake.successes.size(), 1);
    QCOMPARE(environment.addressBookFake.successes.first().first, QString("123456789"));
    QVERIFY(environment.addressBookFake.successes.first().second.isNull());

    session.stop("Fenêtre fermée");
    QCOMPARE(session.status(), QString("Déconnecté"));
    QCOMPARE(session.connectionState(), QString("déconnecté"));
    QCOMPARE(session.endReason(), QString("Fenêtre fermée"));
    QVERIFY(session.lastStartedAt().isValid());
    QVERIFY(!session.startedAt().isValid());
    QVERIFY(pc->closed);
    QVERIFY(pc->observer == nullptr);
    QTRY_COMPARE(endReasonsSent(server), QStringList{"Fenêtre fermée"});
    // A client never restarts by itself.
    QTest::qWait(HostRole::kRestartDelayMs + 300);
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(session.status(), QString("Déconnecté"));
  }

  void clientStoppedBeforeActiveStillGetsAStartTime() {
    FakeEnvironment environment;
    environment.endpoint.url = QUrl("ws://127.0.0.1:9/signal");
    RemoteSession session(environment);
    session.startClient("111222333");
    session.stop("Le client a quitté la session");
    QVERIFY(session.lastStartedAt().isValid());
    QVERIFY(environment.panelsFake.calls.filter("endSession").isEmpty());
  }

  void receivedEndPayloadEndsSilently_data() {
    QTest::addColumn<QJsonValue>("reason");
    QTest::addColumn<QString>("expected");
    QTest::newRow("with reason") << QJsonValue("Bob s’est déconnecté") << "Bob s’est déconnecté";
    QTest::newRow("without reason") << QJsonValue(QJsonValue::Undefined) << "Session terminée";
    QTest::newRow("reason not a string") << QJsonValue(42) << "Session terminée";
  }
  void receivedEndPayloadEndsSilently() {
    QFETCH(QJsonValue, reason);
    QFETCH(QString, expected);
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(scripted.hostWithClient());
    auto pc = environment.factories.front()->connections.back();
    pc->reportIceState(State::Connected);

    server.sendJson(endPayload(reason));
    QTRY_COMPARE(session.endReason(), expected);
    // The teardown cancelled the lost-connection timer: a late "disconnected"
    // from the closed connection ends nothing a second time.
    pc->reportIceState(State::Disconnected);
    QTest::qWait(RemoteSession::kIceDownGraceMs + 500);
    QCOMPARE(environment.panelsFake.calls.filter("endSession").size(), 1);
    QVERIFY(endReasonsSent(server).isEmpty());
  }

  void lostServerLinks_data() {
    QTest::addColumn<bool>("host");
    QTest::addColumn<bool>("inSession");
    QTest::addColumn<bool>("requestPending");
    QTest::addColumn<bool>("reconnects");
    QTest::newRow("idle host") << true << false << false << true;
    QTest::newRow("host with a request waiting") << true << false << true << true;
    QTest::newRow("host in a session") << true << true << false << false;
    // A client not let in yet tries again and joins again; one whose peer
    // connection exists no longer needs the server.
    QTest::newRow("client waiting") << false << false << false << true;
    QTest::newRow("client in a session") << false << true << false << false;
  }
  void lostServerLinks() {
    QFETCH(bool, host);
    QFETCH(bool, inSession);
    QFETCH(bool, requestPending);
    QFETCH(bool, reconnects);
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    if (host && inSession) {
      QVERIFY(scripted.hostWithClient());
    } else if (host) {
      QVERIFY(startHostConnected(session, server));
    } else {
      // In the room, with its peer connection, as the server answers a join.
      session.startClient("123456789");
      QTRY_COMPARE(server.receivedTypes().count("join"), 1);
      server.sendJson({{"type", "joined"}});
      QTRY_VERIFY(scripted.connection() != nullptr);
      if (inSession) server.sendJson({{"type", "approved"}});
      QTRY_COMPARE(session.status(), QString(inSession ? "Autorisé. Initialisation…" : "Salle rejointe"));
    }
    if (requestPending) {
      server.sendJson({{"type", "join-request"}, {"clientId", "c1"}, {"displayName", "Zoé"}});
      QTRY_VERIFY(session.pendingJoin());
    }

    QElapsedTimer clock;
    clock.start();
    server.closeNewest();
    QTRY_COMPARE(session.status(), QString("Serveur déconnecté"));
    QTRY_VERIFY(!session.logs().filter("🔌 WebSocket déconnecté").isEmpty());
    QVERIFY(session.endReason().isNull());
    if (!reconnects) {
      QTest::qWait(2500);
      QCOMPARE(server.connectionCount(), 1);
      return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 2, 5000);
    QVERIFY(clock.elapsed() >= 900);
    QTRY_COMPARE(server.receivedTypes().count(host ? "create" : "join"), 2);
    QVERIFY(!session.pendingJoin());
    QVERIFY(session.requesterName().isNull());
    if (requestPending) QVERIFY(environment.panelsFake.calls.contains("dismissJoinRequest"));
  }

  // Events the library queued before a teardown arrive after it.
  void lateLibraryEventsAfterTeardownChangeNothing() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(scripted.clientInRoom());
    QTRY_COMPARE(session.status(), QString("Salle rejointe"));
    rtc::PeerConnectionObserver* observer = scripted.connection()->observer;
    observer->onVideoTrack(std::make_shared<rtc::FakeVideoTrack>("remote"));
    observer->onIceConnectionChange(State::Connected);
    session.stop("Fenêtre fermée");
    QTest::qWait(200);
    QVERIFY(!session.hasRemoteVideoTrack());
    QCOMPARE(session.connectionState(), QString("déconnecté"));
    QCOMPARE(session.status(), QString("Déconnecté"));
    QVERIFY(environment.addressBookFake.successes.isEmpty());
  }

  // The server went away between approval and ICE: nothing would ever move.
  void connectionThatNeverComesUpEndsAndReopensTheRoom() {
    lunor::test::ScriptedSession scripted;
    auto& [server, environment, session] = scripted;
    QVERIFY(scripted.hostWithClient());
    QTRY_COMPARE_WITH_TIMEOUT(session.endReason(), QString::fromUtf8(kReasonNoConnection),
                              Negotiation::kConnectDeadlineMs + 5000);
    QVERIFY(scripted.connection()->closed);
    QTRY_COMPARE_WITH_TIMEOUT(server.receivedTypes().count("create"), 2, 5000);
    QCOMPARE(endReasonsSent(server), QStringList{QString::fromUtf8(kReasonNoConnection)});
  }

  void hostWaitsForAServerThatIsNotUpYet() {
    quint16 port = 0;
    {
      TestWsServer probe;
      port = static_cast<quint16>(probe.url().port());
    }
    FakeEnvironment environment;
    environment.endpoint.url = QUrl(QString("ws://127.0.0.1:%1/signal").arg(port));
    RemoteSession session(environment);
    session.startHost("123456789");
    QTRY_COMPARE(session.status(), QString("Serveur déconnecté"));
    QTest::qWait(1500);  // a refused attempt or two
    TestWsServer late(port);
    QTRY_COMPARE_WITH_TIMEOUT(late.receivedTypes().count("create"), 1, 10000);
  }
};

QTEST_GUILESS_MAIN(RemoteSessionTest)
#include "remote_session_test.moc"
