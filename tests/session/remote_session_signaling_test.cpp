// The session's side of rooms and joining, against a scripted server.

#include <QElapsedTimer>
#include <QtTest>

#include "fake_environment.h"
#include "session_probe.h"
#include "session/remote_session.h"
#include "store/unattended_password.h"
#include "test_ws_server.h"

using namespace lunor;
using lunor::test::FakeEnvironment;
using lunor::test::TestWsServer;

namespace {

using lunor::test::messagesOfType;
const auto ofType = messagesOfType;

QJsonObject joinRequest(const QString& clientId, const QString& name = "Zoé") {
  return {{"type", "join-request"}, {"clientId", clientId}, {"displayName", name}};
}

}  // namespace

class RemoteSessionSignalingTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::ScriptedSession> scripted;
  TestWsServer* server = nullptr;
  FakeEnvironment* environment = nullptr;
  RemoteSession* session = nullptr;

  bool hostWithRoom() {
    session->startHost("123456789");
    return QTest::qWaitFor([&] { return !ofType(*server, "create").isEmpty(); }, 10000);
  }
  bool logged(const QString& text) const { return test::logged(*session, text); }

 private Q_SLOTS:
  void init() {
    scripted = std::make_unique<test::ScriptedSession>();
    server = &scripted->server;
    environment = &scripted->environment;
    session = &scripted->session;
  }
  void cleanup() { scripted.reset(); }

  void roomCreationCarriesTheDigestWhenItCan_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("delayed");
    QTest::addColumn<bool>("withUnattended");
    QTest::newRow("off") << false << "secret" << false << false;
    QTest::newRow("on, password stored") << true << "secret" << false << true;
    QTest::newRow("on, no password") << true << "" << true << false;
  }
  void roomCreationCarriesTheDigestWhenItCan() {
    QFETCH(bool, enabled);
    QFETCH(QString, stored);
    QFETCH(bool, delayed);
    QFETCH(bool, withUnattended);
    environment->profileStore().setUnattendedEnabled(enabled);
    saveUnattendedPassword(environment->secrets, stored);

    QElapsedTimer clock;
    session->startHost("123456789");
    QTRY_VERIFY(logged("🔌 WebSocket connecté (role=HOST, roomId=123456789)"));
    clock.start();
    QTRY_COMPARE(ofType(*server, "create").size(), 1);
    if (delayed) QVERIFY(clock.elapsed() >= 150);
    QTest::qWait(300);
    const QList<QJsonObject> creates = ofType(*server, "create");
    QCOMPARE(creates.size(), 1);
    const QJsonObject create = creates.first();
    QCOMPARE(create.value("roomId").toString(), QString("123456789"));
    QCOMPARE(create.value("requiresApproval"), QJsonValue(true));
    QCOMPARE(create.contains("unattended"), withUnattended);
    if (withUnattended) {
      QCOMPARE(create.value("unattended").toObject(),
               (QJsonObject{{"enabled", true}, {"hash", unattendedPasswordHash("secret")}}));
    }
    const QString expectedLog =
        delayed ? "📤 CREATE envoyé (DELAYED, unattended=false)"
                : QString("📤 CREATE envoyé (requiresApproval=true, unattended=%1)")
                      .arg(withUnattended ? "true" : "false");
    QTRY_VERIFY(logged(expectedLog));
    QTRY_COMPARE(session->status(), QString("En attente de connexion…"));
  }

  void joinsCarryNameAndOnlySubmittedDigests() {
    session->startClient("123456789");
    QTRY_COMPARE_WITH_TIMEOUT(ofType(*server, "join").size(), 1, 5000);
    const QJsonObject first = ofType(*server, "join").first();
    QCOMPARE(first.value("displayName"), QJsonValue(""));
    QVERIFY(!first.contains("passwordHash"));
    QVERIFY(!first.contains("avatar"));

    server->sendJson({{"type", "require-unattended"}});
    QTRY_VERIFY(session->askUnattendedPassword());
    session->submitUnattendedPassword("");
    QVERIFY(!session->askUnattendedPassword());
    QTRY_COMPARE(ofType(*server, "join").size(), 2);
    QCOMPARE(ofType(*server, "join").last().value("passwordHash").toString(),
             QString("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QTRY_COMPARE(session->status(), QString("Vérification du mot de passe…"));

    server->sendJson({{"type", "unattended-denied"}});
    QTRY_COMPARE(session->status(), QString("Mot de passe incorrect"));
    QVERIFY(session->askUnattendedPassword());
  }

  void repeatedRequestKeepsThePendingOne() {
    QVERIFY(hostWithRoom());
    server->sendJson(joinRequest("c1"));
    QTRY_VERIFY(session->pendingJoin());
    server->sendJson(joinRequest("c1"));
    QTRY_COMPARE(environment->panelsFake.calls.filter("joinRequest(").size(), 2);
    QCOMPARE(environment->notificationsFake.posted.size(), 1);
    QVERIFY(session->pendingJoin());
    session->approve();
    QTRY_COMPARE(ofType(*server, "approve").size(), 1);
    QCOMPARE(ofType(*server, "approve").first().value("target").toString(), QString("c1"));
  }

  void promptButtonsFollowTheRequestFlags_data() {
    QTest::addColumn<bool>("unattended");
    QTest::addColumn<bool>("awaitingPassword");
    QTest::addColumn<bool>("canAccept");
    QTest::addColumn<QStringList>("rejectSends");
    QTest::newRow("plain") << false << false << true << QStringList{"reject"};
    QTest::newRow("unattended client") << true << false << false << QStringList{"kick", "reject"};
    QTest::newRow("awaiting password") << true << true << false << QStringList{"reject", "reject"};
  }
  void promptButtonsFollowTheRequestFlags() {
    QFETCH(bool, unattended);
    QFETCH(bool, awaitingPassword);
    QFETCH(bool, canAccept);
    QFETCH(QStringList, rejectSends);
    QVERIFY(hostWithRoom());
    QJsonObject request = joinRequest("c9");
    request.insert("unattended", unattended);
    request.insert("awaitingPassword", awaitingPassword);
    server->sendJson(request);
    QTRY_VERIFY(environment->panelsFake.lastPrompt.has_value());
    const auto prompt = *environment->panelsFake.lastPrompt;
    QCOMPARE(bool(prompt.accept), canAccept);
    QVERIFY(prompt.reject);
    prompt.reject();
    QTRY_COMPARE(server->receivedTypes().mid(1), rejectSends);
    for (const auto& sent : server->receivedObjects().mid(1)) {
      QCOMPARE(sent.value("target").toString(), QString("c9"));
    }
    QVERIFY(!session->pendingJoin());
  }

  void notificationButtonsActOnTheRightRequester() {
    QVERIFY(hostWithRoom());
    // A client session made later must not take the buttons from the host.
    RemoteSession clientSession(*environment);

    server->sendJson(joinRequest("c1"));
    QTRY_VERIFY(session->pendingJoin());
    environment->notificationsFake.answer("someone-else", JoinAction::Approve);
    QTest::qWait(100);
    QVERIFY(ofType(*server, "approve").isEmpty());
    QVERIFY(session->pendingJoin());

    environment->notificationsFake.answer("c1", JoinAction::Reject);
    QTRY_COMPARE(ofType(*server, "reject").size(), 1);
    QVERIFY(!session->pendingJoin());
  }

  void notificationWithoutRequesterAdoptsIt() {
    QVERIFY(hostWithRoom());
    environment->notificationsFake.answer("c7", JoinAction::Approve);
    QTRY_COMPARE(ofType(*server, "approve").size(), 1);
    QCOMPARE(ofType(*server, "approve").first().value("target").toString(), QString("c7"));
    QVERIFY(session->approved());
  }

  void cooldownIgnoresRequestsAndKeepsTheScreenAsItIs() {
    QVERIFY(hostWithRoom());
    server->sendJson(joinRequest("c1", "First"));
    QTRY_VERIFY(session->pendingJoin());
    session->reject();
    server->sendJson(joinRequest("c2", "Second"));
    QTRY_VERIFY(logged("⏳ Join ignorée (cooldown en cours)"));
    QVERIFY(session->requesterName().isNull());
    QVERIFY(!session->pendingJoin());
  }

  void clientFollowsTheServersAnswers() {
    session->startClient("123456789");
    QTRY_COMPARE(server->openClients(), 1);
    server->sendJson({{"type", "waiting-approval"}});
    QTRY_VERIFY(session->isWaitingApproval());
    server->sendJson({{"type", "approved"}});
    QTRY_VERIFY(!session->isWaitingApproval());
    QVERIFY(session->startedAt().isValid());
    QTRY_COMPARE(session->status(), QString("Autorisé. Initialisation…"));
    server->sendJson({{"type", "peer-joined"}, {"clientId", "h1"}, {"displayName", 7}});
    QTRY_VERIFY(session->hasPeerConnection());
    QVERIFY(session->requesterName().isNull());  // a mistyped name counts as missing
    server->sendJson({{"type", "left"}});
    QTRY_COMPARE(session->endReason(), QString("Le client s'est déconnecté"));
  }

  void hardRefreshPayloadRestartsTheCapture() {
    QVERIFY(hostWithRoom());
    server->sendJson({{"type", "signal"}, {"data", QJsonObject{{"type", "hard-refresh-request"}}}});
    QTRY_VERIFY(logged("🔄 Hard refresh demandé par le client"));
  }
};

QTEST_GUILESS_MAIN(RemoteSessionSignalingTest)
#include "remote_session_signaling_test.moc"
