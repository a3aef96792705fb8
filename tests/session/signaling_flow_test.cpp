// SPDX-License-Identifier: GPL-3.0-or-later
// A host session and a client session meeting through the real lunor-signal.

#include <QtTest>
#include <csignal>

#include "session_probe.h"
#include "raw_ws_client.h"
#include "signal_server_process.h"

using namespace lunor;
using lunor::test::RawWsClient;
using lunor::test::SessionSide;
using lunor::test::SignalServerProcess;

constexpr char kRoom[] = "482915736";

class SignalingFlowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<SignalServerProcess> server;
  std::unique_ptr<SessionSide> host;
  std::unique_ptr<SessionSide> client;

  bool hostReady() { return test::openRoom(host->asHost(), kRoom); }
  bool clientWaiting() { return test::askToJoin(client->asClient(), host->asHost(), kRoom); }

 private Q_SLOTS:
  void init() {
    server = std::make_unique<SignalServerProcess>();
    QVERIFY(server->isListening());
    host = std::make_unique<SessionSide>(Role::Host, server->url());
    client = std::make_unique<SessionSide>(Role::Client, server->url());
    client->environment.profileStore().setFirstName(" Zoé ");
    client->environment.profileStore().setLastName("Roy");
  }
  void cleanup() {
    client.reset();
    host.reset();
    server.reset();
  }

  void approvedClientReachesNegotiation() {
    QImage avatar(300, 150, QImage::Format_ARGB32);
    avatar.fill(Qt::darkGreen);
    QVERIFY(client->environment.profileStore().chooseAvatar(avatar));
    QVERIFY(hostReady());
    QVERIFY(clientWaiting());
    HostSession& h = host->asHost();
    ClientSession& c = client->asClient();
    QTRY_COMPARE(c.status(), Status::WaitingForApproval);
    QCOMPARE(h.requesterName(), QString("Zoé Roy"));
    QCOMPARE(h.requesterAvatar().size(), QSize(96, 48));
    QCOMPARE(h.status(), Status::JoinRequested);
    QCOMPARE(host->environment.notificationsFake.posted.size(), 1);
    QCOMPARE(host->environment.notificationsFake.posted.first().first, QString("Zoé Roy"));

    // Both screens show the same code before the person answers.
    QTRY_VERIFY(!c.verificationCode().isEmpty());
    QTRY_COMPARE(host->environment.panelsFake.lastPrompt->code, c.verificationCode());
    const auto prompt = host->environment.panelsFake.lastPrompt;
    QVERIFY(prompt && prompt->accept && prompt->reject);
    QCOMPARE(prompt->name, QString("Zoé Roy"));
    prompt->accept();  // the user presses "Accepter"

    QVERIFY(h.approved());
    QVERIFY(!h.pendingJoin());
    QVERIFY(h.startedAt().isValid());
    QVERIFY(host->environment.panelsFake.calls.contains("showFloatingHud(Zoé Roy)"));
    QTRY_VERIFY(!c.isWaitingApproval());
    QTRY_COMPARE(c.status(), Status::PeerArrived);
    QVERIFY(c.startedAt().isValid());
    QVERIFY(!client->environment.factories.front()->connections.empty());
    const QString requester = host->environment.notificationsFake.posted.first().second;
    QTRY_VERIFY(host->logged("👤 Peer connecté (cid=" + requester + ", unattended=false)"));
  }

  void rejectedClientEndsAndTheCooldownHoldsOthersBack() {
    QVERIFY(hostReady());
    QVERIFY(clientWaiting());
    host->environment.panelsFake.lastPrompt->reject();
    ClientSession& c = client->asClient();
    QTRY_COMPARE(c.endReason(), QString("Connexion refusée par l'hôte"));
    QTRY_COMPARE(c.status(), Status::Rejected);
    QVERIFY(!c.isWaitingApproval());
    QVERIFY(!host->asHost().pendingJoin());

    // A second join right away is ignored, and logged.
    RawWsClient early(server->port());
    QVERIFY(early.handshake());
    early.send({{"type", "join"}, {"roomId", kRoom}, {"displayName", "Early"}});
    QTRY_VERIFY2(host->logged("⏳ Join ignorée (cooldown en cours)"),
                 qPrintable(host->session->logs().join("\n")));
    QVERIFY(!host->asHost().pendingJoin());
    QVERIFY(host->session->requesterName().isNull());  // the screen stays as it is

    // After 1.5 s requests are heard again.
    host->environment.clockFake.advance(HostSession::kRejectCooldown);
    RawWsClient late(server->port());
    QVERIFY(late.handshake());
    late.send({{"type", "join"}, {"roomId", kRoom}, {"displayName", "Late"}});
    QTRY_VERIFY(host->asHost().pendingJoin());
    QCOMPARE(host->session->requesterName(), QString("Late"));
    QTRY_VERIFY(host->logged("🔔 Join request de Late"));
  }

  void departedClientEndsTheHostWhichReopensItsRoom() {
    QVERIFY(hostReady());
    QVERIFY(clientWaiting());
    host->asHost().approve();
    QTRY_VERIFY(!client->environment.factories.front()->connections.empty());
    client.reset();  // the client vanishes without a word
    QTRY_COMPARE(host->session->endReason(), QString("Le client s'est déconnecté"));
    QTRY_COMPARE_WITH_TIMEOUT(host->loggedCount("🏠 Room créée"), 2, 10000);

    // The reopened room takes the next client once the 2 s after an end are over.
    host->environment.clockFake.advance(HostSession::kEndCooldown);
    client = std::make_unique<SessionSide>(Role::Client, server->url());
    QVERIFY(clientWaiting());
  }

  void hostRetriesATakenRoom() {
    // Someone has the host's ID first (say, right after a server restart).
    auto squatter = std::make_unique<RawWsClient>(server->port());
    QVERIFY(squatter->handshake());
    squatter->send({{"type", "create"}, {"roomId", kRoom}});
    QVERIFY(!squatter->take("created").isEmpty());

    host->asHost().startHost(kRoom);
    QTRY_COMPARE_WITH_TIMEOUT(host->session->status(), Status::RoomTaken, 10000);
    QTRY_VERIFY(host->logged("🔁 Nouvelle tentative de connexion au serveur dans 1 s"));
    squatter.reset();  // gone: the host's next try gets the room
    QTRY_COMPARE_WITH_TIMEOUT(host->loggedCount("🏠 Room créée"), 1, 10000);
  }

  void idleHostNoticesASilentServerAndComesBack() {
    host->environment.endpoint.pingIntervalMs = 300;
    QVERIFY(hostReady());
    const qint64 pid = server->process().processId();
    ::kill(static_cast<pid_t>(pid), SIGSTOP);  // the link stays open; nothing answers
    // Only the missing pongs can tell: the connection itself stays up.
    QTRY_COMPARE_WITH_TIMEOUT(host->session->status(), Status::ServerDisconnected, 10000);
    QTRY_VERIFY(!host->session->logs().filter("Nouvelle tentative de connexion au serveur").isEmpty());
    ::kill(static_cast<pid_t>(pid), SIGCONT);
    // Back: the room is the host's again (its old connection, still open on the server, is replaced).
    QTRY_COMPARE_WITH_TIMEOUT(host->loggedCount("🏠 Room créée"), 2, 15000);
    QVERIFY(clientWaiting());
  }
};

QTEST_GUILESS_MAIN(SignalingFlowTest)
#include "signaling_flow_test.moc"
