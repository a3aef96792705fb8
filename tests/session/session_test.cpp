// SPDX-License-Identifier: GPL-3.0-or-later
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include "session/negotiation.h"
#include "session_probe.h"

using namespace lunor;
using lunor::test::FakeEnvironment;
using lunor::test::SteppedClock;
using lunor::test::TestWsServer;
using State = lunor::rtc::IceConnectionState;

namespace {

QJsonObject endPayload(const QJsonValue& reason) {
  return lunor::test::signalMessage({{"type", "end"}, {"reason", reason}});
}

// The link up before or not, a first ICE state, a second one `secondAfterMs`
// later (-1: none), the state back without an event; whether the session ends.
struct IceStory {
  bool wasUp;
  State first;
  int secondAfterMs = -1;
  State second = State::Failed;
  bool recoversSilently = false;
  bool ends = true;
};

}  // namespace

Q_DECLARE_METATYPE(IceStory)

class SessionTest : public test::ScriptedSessionTest {
  Q_OBJECT

  QStringList endReasonsSent() const {
    QStringList reasons;
    for (const auto& data : payloads("end")) reasons << data.value("reason").toString();
    return reasons;
  }

 private Q_SLOTS:
  // The newest 200 lines, in their order also when another thread wrote them.
  void logKeepsTheNewest200LinesInOrder() {
    HostSession* session = host();  // made here, on the main thread
    QThread* worker = QThread::create([session] {
      for (int i = 0; i < 250; ++i) session->log(QString("line %1").arg(i));
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QTRY_VERIFY(host()->logs().value(Session::kMaxLogLines - 1).endsWith("] line 249"));
    const QStringList logs = host()->logs();
    QCOMPARE(logs.size(), Session::kMaxLogLines);
    QVERIFY(QRegularExpression(R"(^\[\d\d:\d\d:\d\d\] line 50$)").match(logs.first()).hasMatch());
    for (int i = 0; i < logs.size(); ++i) QCOMPARE(logs[i].section("] ", 1), QString("line %1").arg(50 + i));
  }

  // The client joins a second after it starts; one stopped within that
  // second never joins, and still has a start time for its end screen.
  void clientJoinsOneSecondAfterStart_data() {
    QTest::addColumn<bool>("stopped");
    QTest::newRow("left to run") << false;
    QTest::newRow("stopped within the second") << true;
  }
  void clientJoinsOneSecondAfterStart() {
    QFETCH(bool, stopped);
    QElapsedTimer clock;
    clock.start();
    client()->startClient("987654321");
    if (stopped) {
      QTRY_COMPARE(server->connectionCount(), 1);
      client()->stop("Le client a quitté la session");
      QVERIFY(client()->lastStartedAt().isValid());
      QVERIFY(environment->panelsFake.calls.filter("endSession").isEmpty());
      environment->clockFake.advance(ClientSession::kJoinDelayMs + 500);
      QCoreApplication::processEvents();
      QVERIFY(!server->receivedTypes().contains("join"));
      return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(server->receivedTypes().contains("join"), 5000);
    QVERIFY(clock.elapsed() >= 900);
    const QJsonObject join = server->receivedObjects().first();
    QCOMPARE(join.value("roomId").toString(), QString("987654321"));
    QCOMPARE(join.value("displayName"), QJsonValue(""));
    QVERIFY(!join.contains("passwordHash") && !join.contains("avatar"));  // none until there is one
    QTRY_COMPARE(client()->status(), Status::ConnectingToHost);
  }

  void messageFromTheOldConnectionAfterTeardownChangesNothing() {
    QVERIFY(scripted->startHost());
    // The frame is on its way (in the socket buffer, not yet read: no event
    // is handled in between) when the session ends; delivering it would end
    // the session a second time.
    server->sendJson(endPayload("late"));
    QCOMPARE(server->unsentBytes(), 0);  // all of it has left for the session's socket
    host()->stop("Session terminée par l’hôte");
    QTest::qWait(300);

    QCOMPARE(host()->endReason(), QString("Session terminée par l’hôte"));
    QCOMPARE(environment->panelsFake.calls.count("endSession(Session terminée par l’hôte|0s|10)"), 1);
  }

  void iceDownTimer_data() {
    QTest::addColumn<IceStory>("story");
    QTest::newRow("disconnected, then connected within 2 s")
        << IceStory{true, State::Disconnected, 300, State::Connected, false, false};
    QTest::newRow("failed for 2 s") << IceStory{true, State::Failed};
    QTest::newRow("closed for 2 s") << IceStory{true, State::Closed};
    QTest::newRow("disconnected, then failed restarts the wait") << IceStory{true, State::Disconnected, 300};
    QTest::newRow("disconnected, back without an event")
        << IceStory{true, State::Disconnected, -1, State::Failed, true, false};
    // Never up: the connection could not be made, nothing was lost.
    QTest::newRow("failed before it was ever up") << IceStory{false, State::Failed};
  }
  void iceDownTimer() {
    QFETCH(IceStory, story);
    const auto [wasUp, first, secondAfterMs, second, recoversSilently, ends] = story;
    QVERIFY(scripted->hostWithClient());
    auto* pc = scripted->connection();

    if (wasUp) {
      pc->reportIceState(State::Connected);
      QTRY_COMPARE(host()->linkState(), LinkState::Connected);
    }
    SteppedClock& time = environment->clockFake;
    auto shown = [&](State state) {
      return QTest::qWaitFor([&] { return host()->status() == iceStateView(state).status; }, 5000);
    };
    pc->reportIceState(first);
    QVERIFY(shown(first));
    if (secondAfterMs >= 0) {
      time.advance(secondAfterMs);
      pc->reportIceState(second);
      QVERIFY(shown(second));
    }
    if (recoversSilently) pc->state = State::Connected;
    time.advance(Session::kIceDownGraceMs - 100);  // the grace from the last report
    QVERIFY(host()->endReason().isNull());
    time.advance(100);

    if (ends) {
      QCOMPARE(host()->endReason(),
               QString(wasUp ? "L’autre partie s’est déconnectée" : "La connexion n’a pas pu être établie"));
      QCOMPARE(host()->endCause(), wasUp ? EndCause::PeerLost : EndCause::NoConnection);
      QVERIFY(environment->panelsFake.calls.contains("hideFloatingHud"));
      // A lost connection's end is silent: it tells the peer nothing.
      if (wasUp) QTest::qWait(100);
      QTRY_COMPARE(endReasonsSent().isEmpty(), wasUp);
    } else {
      time.advance(Session::kIceDownGraceMs);
      QVERIFY(host()->endReason().isNull());
      QVERIFY(!pc->closed);
    }
  }

  void endedHostShowsPanelAndRecreatesItsRoom() {
    QVERIFY(scripted->startHost());

    SteppedClock& time = environment->clockFake;
    host()->stop("Alice s’est déconnecté de votre ordinateur");
    QCOMPARE(host()->status(), Status::Disconnected);
    QCOMPARE(environment->panelsFake.calls.count("endSession(Alice s’est déconnecté de votre ordinateur|0s|10)"), 1);

    // A second end before the restart (a late "peer-left") changes nothing.
    host()->endSession("Arrêt de la session", false, EndCause::PeerLeft);
    QCOMPARE(environment->panelsFake.calls.filter("endSession").size(), 1);

    time.advance(HostSession::kRestartDelayMs - 50);
    QCoreApplication::processEvents();
    QCOMPARE(server->connectionCount(), 1);  // not before the pause
    time.advance(50);
    QTRY_COMPARE_WITH_TIMEOUT(server->connectionCount(), 2, 5000);
    QTRY_COMPARE(server->receivedTypes().count("create"), 2);
    QCOMPARE(endReasonsSent(), QStringList{"Alice s’est déconnecté de votre ordinateur"});
    QTRY_COMPARE(server->closeCodes(), QList<int>{1001});  // once its last words have been read
    // The restart does not clear why the last session ended.
    QCOMPARE(host()->endReason(), QString("Alice s’est déconnecté de votre ordinateur"));
    time.advance(HostSession::kRestartDelayMs * 2);
    QCoreApplication::processEvents();
    QCOMPARE(server->connectionCount(), 2);
  }

  void teardownResetsFieldsButKeepsTheEndReason() {
    QVERIFY(scripted->clientInRoom());
    auto* pc = scripted->connection();
    pc->reportIceState(State::Connected);
    QTRY_COMPARE(client()->linkState(), LinkState::Connected);
    QVERIFY(client()->startedAt().isValid());
    QCOMPARE(environment->addressBookFake.successes.size(), 1);
    QCOMPARE(environment->addressBookFake.successes.first().first, QString("123456789"));
    QVERIFY(environment->addressBookFake.successes.first().second.isNull());

    client()->stop("Fenêtre fermée");
    QCOMPARE(client()->status(), Status::Disconnected);
    QCOMPARE(client()->linkState(), LinkState::Disconnected);
    QCOMPARE(client()->endReason(), QString("Fenêtre fermée"));
    QVERIFY(client()->lastStartedAt().isValid());
    QVERIFY(!client()->startedAt().isValid());
    QVERIFY(pc->closed);
    QVERIFY(pc->observer == nullptr);
    QTRY_COMPARE(endReasonsSent(), QStringList{"Fenêtre fermée"});
    // A client never restarts by itself.
    environment->clockFake.advance(HostSession::kRestartDelayMs * 2);
    QTest::qWait(100);
    QCOMPARE(server->connectionCount(), 1);
    QCOMPARE(client()->status(), Status::Disconnected);
  }

  // The peer's "end" ends the session without a word back (how its reason
  // is read: the wire messages' test).
  void receivedEndPayloadEndsSilently() {
    QVERIFY(scripted->hostWithClient());
    auto pc = environment->factories.front()->connections.back();
    pc->reportIceState(State::Connected);

    server->sendJson(endPayload("Bob s’est déconnecté"));
    QTRY_COMPARE(host()->endReason(), QString("Bob s’est déconnecté"));
    // The teardown cancelled the lost-connection timer: a late "disconnected"
    // from the closed connection ends nothing a second time.
    pc->reportIceState(State::Disconnected);
    QCoreApplication::processEvents();
    environment->clockFake.advance(Session::kIceDownGraceMs + 500);
    QCOMPARE(environment->panelsFake.calls.filter("endSession").size(), 1);
    QVERIFY(endReasonsSent().isEmpty());
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
    if (host && inSession) {
      QVERIFY(scripted->hostWithClient());
    } else if (host) {
      QVERIFY(scripted->startHost());
    } else {
      // In the room, with its peer connection, as the server answers a join.
      scripted->client().startClient("123456789");
      QTRY_COMPARE(server->receivedTypes().count("join"), 1);
      server->sendJson({{"type", "joined"}});
      QTRY_VERIFY(scripted->connection() != nullptr);
      if (inSession) server->sendJson({{"type", "approved"}});
      QTRY_COMPARE(scripted->client().status(), inSession ? Status::Admitted : Status::RoomJoined);
    }
    if (requestPending) {
      server->sendJson(test::joinRequest("c1"));
      QTRY_VERIFY(scripted->host().pendingJoin());
    }
    const Session& session = scripted->session();

    server->closeNewest();
    QTRY_COMPARE(session.status(), Status::ServerDisconnected);
    QVERIFY(session.endReason().isNull());
    // Not at once: a second's pause first (a link opened would be in by
    // the end of the real wait), then a new link; within the connection's
    // own deadline, none for a session that needs the server no more.
    environment->clockFake.advance(reconnects ? 900 : Negotiation::kConnectDeadlineMs - 1000);
    QTest::qWait(200);
    QCOMPARE(server->connectionCount(), 1);
    if (!reconnects) return;
    environment->clockFake.advance(1000);
    QTRY_COMPARE_WITH_TIMEOUT(server->connectionCount(), 2, 5000);
    QTRY_COMPARE(server->receivedTypes().count(host ? "create" : "join"), 2);
    QVERIFY(!host || !scripted->host().pendingJoin());
    QVERIFY(session.requesterName().isNull());
    if (requestPending) QVERIFY(environment->panelsFake.calls.contains("dismissJoinRequest"));
  }

  // Events the library queued before a teardown arrive after it.
  void lateLibraryEventsAfterTeardownChangeNothing() {
    QVERIFY(scripted->clientInRoom());
    QTRY_COMPARE(client()->status(), Status::RoomJoined);
    rtc::PeerConnectionObserver* observer = scripted->connection()->observer;
    observer->onVideoTrack(std::make_shared<rtc::FakeVideoTrack>("remote"));
    observer->onIceConnectionChange(State::Connected);
    client()->stop("Fenêtre fermée");
    QTest::qWait(200);
    QVERIFY(!client()->hasRemoteVideoTrack());
    QCOMPARE(client()->linkState(), LinkState::Disconnected);
    QCOMPARE(client()->status(), Status::Disconnected);
    QVERIFY(environment->addressBookFake.successes.isEmpty());
  }

  // The server went away between approval and ICE: nothing would ever move.
  void connectionThatNeverComesUpEndsAndReopensTheRoom() {
    QVERIFY(scripted->hostWithClient());
    QTRY_COMPARE_WITH_TIMEOUT(host()->endReason(), QString::fromUtf8(kReasonNoConnection),
                              Negotiation::kConnectDeadlineMs + 5000);
    QVERIFY(scripted->connection()->closed);
    QTRY_COMPARE_WITH_TIMEOUT(server->receivedTypes().count("create"), 2, 5000);
    QCOMPARE(endReasonsSent(), QStringList{QString::fromUtf8(kReasonNoConnection)});
  }

  void hostWaitsForAServerThatIsNotUpYet() {
    quint16 port = 0;
    {
      TestWsServer probe;
      port = static_cast<quint16>(probe.url().port());
    }
    FakeEnvironment environment;
    environment.endpoint.url = QUrl(QString("ws://127.0.0.1:%1/signal").arg(port));
    HostSession session(environment, environment);
    session.startHost("123456789");
    QTRY_COMPARE(session.status(), Status::ServerDisconnected);
    QTest::qWait(1500);  // a refused attempt or two
    TestWsServer late(port);
    QTRY_COMPARE_WITH_TIMEOUT(late.receivedTypes().count("create"), 1, 10000);
  }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "session_test.moc"
