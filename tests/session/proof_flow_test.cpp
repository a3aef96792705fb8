// SPDX-License-Identifier: GPL-3.0-or-later
// The unattended password proved to the host over real peer connections;
// through a lying server nothing of the screen or the password leaves.

#include <QtTest>

#include "features/session_features.h"
#include "hostile_server.h"
#include "protocol/password_proof.h"
#include "raw_ws_client.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "session_probe.h"
#include "signal_server_process.h"
#include "store/host_identity.h"
#include "store/unattended_password.h"

using namespace lunor;
using lunor::test::HostileServer;
using lunor::test::SessionSide;

Q_DECLARE_METATYPE(lunor::test::HostileServer::Lie)

namespace {

constexpr char kRoom[] = "318274650";
const QString kPassword = QStringLiteral("tournesol");

std::function<std::unique_ptr<rtc::PeerConnectionFactory>()> realRtc() {
  return [] { return rtc::createWebRtcFactory(); };
}

// A host with unattended access and a client that answers every password
// prompt with `password` (none: it gives up).
struct Pair {
  Pair(const QUrl& server, std::optional<QString> password)
      : host(Role::Host, server, realRtc()), client(Role::Client, server, realRtc()) {
    host.environment.profileStore().setUnattendedEnabled(true);
    saveUnattendedPassword(host.environment.secrets, kPassword);
    ClientSession& c = client.asClient();
    QObject::connect(&c, &ClientSession::askUnattendedPasswordChanged, &c, [&c, password] {
      if (c.askUnattendedPassword() && password) c.submitUnattendedPassword(*password);
    });
  }
  bool start() {
    if (!test::openRoom(host.asHost(), kRoom)) return false;
    client.asClient().startClient(kRoom);
    return true;
  }
  // Nothing of the screen has left the host, nor has it taken the client in.
  bool nothingShared() {
    return host.environment.capturers.empty() && !host.asHost().hasLocalVideoTrack() && !host.asHost().approved() &&
           !client.asClient().hasRemoteVideoTrack();
  }
  SessionSide host;
  SessionSide client;
};

}  // namespace

class ProofFlowTest final : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() { rtc::initialiseWebRtcLibrary(); }

  void theRightPasswordBringsThePicture() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Pair pair(server.url(), kPassword);
    QVERIFY(pair.start());
    QTRY_VERIFY_WITH_TIMEOUT(pair.client.asClient().hasRemoteVideoTrack(), 30000);
    QVERIFY(pair.host.asHost().approved());
    // Then the control channel and what both sides share over it.
    QTRY_VERIFY_WITH_TIMEOUT(SessionFeatures::of(pair.host.session->features()).filesShared(), 15000);
    QVERIFY(SessionFeatures::of(pair.client.session->features()).filesShared());
    // The host is known from now on, and knows this machine.
    QCOMPARE(pair.client.environment.addressBookFake.hostKeys.value(kRoom).size(), proof::kKeyBytes);
    QCOMPARE(pair.client.environment.addressBookFake.hostDeviceKeys.value(kRoom).size(), proof::kKeyBytes);
    QTRY_COMPARE(knownDevices(pair.host.environment.secrets).size(), size_t(1));
  }

  // Each wrong password is refused where it is tried, the host; a few in
  // a row and the host makes the client wait before the next.
  void wrongPasswordsSpendTheHostsBudget() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Pair pair(server.url(), QStringLiteral("tournesoI"));
    QVERIFY(pair.start());
    ClientSession& c = pair.client.asClient();
    QTRY_VERIFY_WITH_TIMEOUT(c.passwordRetryAt().isValid(), 30000);  // refused three times, then told to wait
    QVERIFY(pair.nothingShared());
    QVERIFY(!pair.host.session->logs().filter("🔐 Client admis à prouver le mot de passe").isEmpty());
  }

  void aLyingServer_data() {
    QTest::addColumn<HostileServer::Lie>("lie");
    QTest::addColumn<QString>("password");  // the client's; null: none
    QTest::newRow("admits a client that sent nothing") << HostileServer::Lie::AdmitWithoutPassword << QString();
    QTest::newRow("says it came to prove one") << HostileServer::Lie::AdmitAsProving << QString();
    QTest::newRow("sits in the middle") << HostileServer::Lie::SwapFingerprint << kPassword;

  }
  void aLyingServer() {
    QFETCH(HostileServer::Lie, lie);
    QFETCH(QString, password);
    HostileServer server(lie);
    Pair pair(server.url(), password.isNull() ? std::nullopt : std::optional(password));
    QVERIFY(pair.start());
    if (lie == HostileServer::Lie::SwapFingerprint) {
      // Its certificate does not match the offer: the client's DTLS fails, nothing opens.
      QTRY_VERIFY_WITH_TIMEOUT(!pair.host.session->logs().filter("🔐 Client admis à prouver").isEmpty(), 60000);
      QTest::qWait(3000);
    } else {
      // The host says who it is, and waits for a proof that never comes.
      QTRY_VERIFY_WITH_TIMEOUT(pair.client.logged("🔏 Identité de l’hôte vérifiée"), 60000);
      QTest::qWait(1000);
    }
    QVERIFY(pair.nothingShared());
    QVERIFY(pair.host.environment.injectors.front()->calls().isEmpty());
    // Past the proof's deadline (or the connection's) the host ends it.
    pair.host.environment.clockFake.advance(HostSession::kProofDeadlineMs);
    QTRY_VERIFY(!pair.host.session->logs().filter("🧹 Teardown").isEmpty());
    QVERIFY(pair.nothingShared());
  }

  // In the middle of a session a person let in. Relaying both halves of the
  // code as they are, the two screens show the same code, and the client
  // then refuses the offer with another certificate; naming its own
  // certificate to the client as the host's, the codes differ. Either way
  // no picture is described or sent, and both sides end.
  void aMiddleManInAnAttendedSession_data() {
    QTest::addColumn<HostileServer::Lie>("lie");
    QTest::addColumn<bool>("sameCode");
    QTest::newRow("swaps the certificate in the offer") << HostileServer::Lie::SwapFingerprintAttended << true;
    QTest::newRow("names its own to the client") << HostileServer::Lie::OwnCodeAttended << false;
  }
  void aMiddleManInAnAttendedSession() {
    QFETCH(HostileServer::Lie, lie);
    QFETCH(bool, sameCode);
    HostileServer server(lie);
    Pair pair(server.url(), std::nullopt);
    QVERIFY(pair.start());
    QTRY_VERIFY_WITH_TIMEOUT(pair.host.environment.panelsFake.lastPrompt && !pair.host.environment.panelsFake.lastPrompt->code.isEmpty(), 20000);
    const QString shown = pair.host.environment.panelsFake.lastPrompt->code;
    QCOMPARE(pair.client.asClient().verificationCode() == shown, sameCode);
    pair.host.asHost().approve();
    QTRY_COMPARE_WITH_TIMEOUT(pair.client.session->endCause(), EndCause::NotTheCodedPeer, 10000);
    QVERIFY(!pair.client.asClient().hasRemoteVideoTrack());
    QTRY_VERIFY(!pair.host.asHost().approved());
  }

  // A host met before that checks passwords itself: a server that asks
  // the client for the digest instead gets nothing, and the client says why.
  void aKnownHostIsNotDowngraded() {
    HostileServer server(HostileServer::Lie::AskForDigest);
    Pair pair(server.url(), kPassword);
    pair.client.environment.addressBookFake.setHostKey(kRoom, proof::Identity::generate().publicKey);
    QVERIFY(pair.start());
    QTRY_COMPARE_WITH_TIMEOUT(pair.client.session->endCause(), EndCause::HostIdentityChanged, 20000);
    for (const QJsonObject& message : server.fromClient()) QVERIFY(!message.contains("passwordHash"));
    QVERIFY(pair.nothingShared());
  }

  // A host met before that does not say who it is (here: its secret store
  // gives it no identity), in a session its person accepts: its picture is
  // never shown, and the client ends once it has waited long enough.
  void aKnownHostThatSaysNothingIsNotShown() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Pair pair(server.url(), std::nullopt);
    pair.host.environment.secrets.failWith = KeychainError::unexpectedStatus(KeychainError::kStatusFailed);
    pair.client.environment.addressBookFake.setHostKey(kRoom, proof::Identity::generate().publicKey);
    QVERIFY(pair.start());
    QTRY_VERIFY_WITH_TIMEOUT(pair.host.asHost().pendingJoin(), 20000);
    pair.host.asHost().approve();
    QTRY_COMPARE_WITH_TIMEOUT(pair.client.session->linkState(), LinkState::Connected, 20000);
    QTest::qWait(1000);
    QVERIFY(!pair.client.asClient().hasRemoteVideoTrack());
    pair.client.environment.clockFake.advance(ClientSession::kHostHelloMs);
    QTRY_COMPARE(pair.client.session->endCause(), EndCause::HostNotVerified);
    QVERIFY(!pair.client.asClient().hasRemoteVideoTrack());
  }

  // The host is not the one met before: refused, even with the password.
  void aChangedHostIsRefused() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Pair pair(server.url(), kPassword);
    pair.client.environment.addressBookFake.setHostKey(kRoom, proof::Identity::generate().publicKey);
    QVERIFY(pair.start());
    QTRY_COMPARE_WITH_TIMEOUT(pair.client.session->endCause(), EndCause::HostIdentityChanged, 30000);
    QVERIFY(pair.nothingShared());
  }

  // A client built to the original design can only show the server the
  // password's digest: the server's word lets it in where the host's person
  // allows that, and nowhere else.
  void aClientThatCannotProve_data() {
    QTest::addColumn<bool>("allowed");
    QTest::newRow("allowed") << true;
    QTest::newRow("not allowed (the default)") << false;
  }
  void aClientThatCannotProve() {
    QFETCH(bool, allowed);
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    SessionSide host(Role::Host, server.url(), realRtc());
    host.environment.profileStore().setUnattendedEnabled(true);
    host.environment.profileStore().setAcceptsUnprovenClients(allowed);
    saveUnattendedPassword(host.environment.secrets, kPassword);
    QVERIFY(test::openRoom(host.asHost(), kRoom));
    test::RawWsClient design(server.port());
    QVERIFY(design.handshake());
    design.send({{"type", "join"}, {"roomId", kRoom}, {"displayName", "Mac"},
                 {"passwordHash", unattendedPasswordHash(kPassword)}});
    if (allowed) {
      QVERIFY(!design.take("approved").isEmpty());
      QTRY_VERIFY_WITH_TIMEOUT(!host.environment.capturers.empty(), 10000);
      QVERIFY(host.asHost().approved());
    } else {
      QVERIFY(!design.take("unattended-denied").isEmpty());
      QTest::qWait(500);
      QVERIFY(host.environment.capturers.empty());
    }
  }
};

QTEST_GUILESS_MAIN(ProofFlowTest)
#include "proof_flow_test.moc"
