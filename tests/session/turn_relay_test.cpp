// SPDX-License-Identifier: GPL-3.0-or-later
// Media through coturn alone (relayed paths only), with the fixed credentials
// or the short-lived ones the signaling server makes from a shared secret.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "child_process.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "session/service_config.h"
#include "session_probe.h"
#include "signal_server_process.h"
#include "test_files.h"

using namespace lunor;

class TurnRelayTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void videoFlowsThroughTheRelay_data() {
    QTest::addColumn<bool>("serverCredentials");
    QTest::newRow("fixed user") << false;
    QTest::newRow("short-lived credentials from the signaling server") << true;
  }
  void videoFlowsThroughTheRelay() {
    QFETCH(bool, serverCredentials);
    // Below the kernel's ephemeral range, where the machine's own connections take ports.
    const int port = 20000 + static_cast<int>(QCoreApplication::applicationPid() % 12000);
    QTemporaryDir scratch;
    const QByteArray secret = "lunor-test-" + QByteArray::number(QCoreApplication::applicationPid());
    const QString secretFile = scratch.filePath("turn-secret");
    QVERIFY(test::writeFile(secretFile, secret + "\n"));

    QProcess turn;
    turn.setProcessChannelMode(QProcess::MergedChannels);
    // Line-buffered, so the relay's log can be read while it runs.
    // Loopback only: the relay must not listen on the machine's other interfaces.
    QStringList turnArguments{"-oL", "turnserver", "-n", "-v",  // -v: log each allocation
                              "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                              QString("--listening-port=%1").arg(port),
                              "--realm=lunor", "--no-tls", "--no-dtls", "--no-cli",
                              "--allow-loopback-peers", "--log-file=stdout", "--simple-log",
                              "--pidfile", scratch.filePath("turn.pid"), "--db", scratch.filePath("turndb"),
                              QString("--min-port=%1").arg(port + 1), QString("--max-port=%1").arg(port + 200)};
    if (serverCredentials) {
      // Only the shared secret opens this relay: the application's fixed user does not.
      turnArguments << "--use-auth-secret" << "--static-auth-secret=" + QString::fromLatin1(secret);
    } else {
      turnArguments << "--lt-cred-mech" << QString("--user=%1:%2").arg(kTurnUsername, kTurnCredential);
    }
    test::dieWithTest(turn);
    turn.start("stdbuf", turnArguments);
    QVERIFY2(turn.waitForStarted(10000), "coturn (turnserver) is not installed");
    QByteArray turnLog;
    QTRY_VERIFY_WITH_TIMEOUT((turnLog += turn.readAll()).contains("Total General servers"), 10000);

    QStringList serverArguments;
    if (serverCredentials) {
      serverArguments << "--turn-url" << QString("turn:127.0.0.1:%1").arg(port) << "--turn-secret-file"
                      << secretFile << "--turn-ttl" << "600";
    }
    test::SignalServerProcess server(serverArguments);
    QVERIFY(server.isListening());
    qputenv(kTurnUrlEnv, QString("turn:127.0.0.1:%1").arg(port).toUtf8());
    qputenv(kStunUrlEnv, QString("stun:127.0.0.1:%1").arg(port).toUtf8());
    qputenv(kTransportPolicyEnv, "relay");

    test::SessionSide host(Role::Host, server.url(), [] { return rtc::createWebRtcFactory(); });
    test::SessionSide client(Role::Client, server.url(), [] { return rtc::createWebRtcFactory(); });
    for (test::FakeEnvironment* environment : {&host.environment, &client.environment}) {
      environment->displayList = StaticDisplayList({{1, 640, 360, QRect(0, 0, 640, 360)}});
      environment->peerConfig = peerConfiguration(environment->settings());
    }
    qunsetenv(kTurnUrlEnv);
    qunsetenv(kStunUrlEnv);
    qunsetenv(kTransportPolicyEnv);
    QCOMPARE(host.environment.peerConfig.iceTransportPolicy, rtc::IceTransportPolicy::Relay);

    QVERIFY(test::meet(host.asHost(), client.asClient(), "555000111"));
    test::FrameCounter counter(client.asClient().remoteVideoTrack());
    QVERIFY(counter.waitForMore(3));
    QTRY_COMPARE(client.session->linkState(), LinkState::Connected);
    // The relay allocated for the expected user: the media did go through it.
    if (serverCredentials) {
      // "expiry:clientId", valid for the server's --turn-ttl from now.
      static const QRegularExpression allocated("user <(\\d+):[0-9a-f]{16}>: incoming packet ALLOCATE processed, success");
      QRegularExpressionMatch match;
      QTRY_VERIFY2((match = allocated.match(QString::fromUtf8(turnLog += turn.readAll()))).hasMatch(),
                   "the relay logged no allocation for a server-issued user");
      const qint64 expiry = match.captured(1).toLongLong();
      const qint64 now = QDateTime::currentSecsSinceEpoch();
      QVERIFY2(expiry > now && expiry <= now + 600, qPrintable(match.captured(0)));
    } else {
      QTRY_VERIFY2((turnLog += turn.readAll()).contains("user <rook>: incoming packet ALLOCATE processed, success"),
                   "the relay logged no allocation for the application's TURN user");
    }
    client.session->stop("Session terminée par le client");

    turn.terminate();
    turn.waitForFinished(5000);
  }
};

QTEST_GUILESS_MAIN(TurnRelayTest)
#include "turn_relay_test.moc"
