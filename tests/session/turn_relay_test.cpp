// Media through the TURN server alone: coturn on loopback with the
// application's fixed credentials, and both peers restricted to relayed paths.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "fake_environment.h"
#include "session/remote_session.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "session/service_config.h"
#include "session_probe.h"
#include "signal_server_process.h"

using namespace lunor;

class TurnRelayTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void videoFlowsThroughTheRelay() {
    const int port = 30000 + static_cast<int>(QCoreApplication::applicationPid() % 20000);
    QTemporaryDir scratch;
    QProcess turn;
    turn.setProcessChannelMode(QProcess::MergedChannels);
    // Line-buffered, so the relay's log can be read while it runs.
    // Loopback only: the relay must not listen on the machine's other interfaces.
    turn.start("stdbuf", {"-oL", "turnserver", "-n", "-v",  // -v: log each allocation
                          "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                              QString("--listening-port=%1").arg(port), "--lt-cred-mech",
                              QString("--user=%1:%2").arg(kTurnUsername, kTurnCredential),
                              "--realm=lunor", "--no-tls", "--no-dtls", "--no-cli",
                              "--allow-loopback-peers", "--log-file=stdout", "--simple-log",
                              "--pidfile", scratch.filePath("turn.pid"), "--db", scratch.filePath("turndb"),
                              QString("--min-port=%1").arg(port + 1), QString("--max-port=%1").arg(port + 200)});
    QVERIFY2(turn.waitForStarted(10000), "coturn (turnserver) is not installed");
    QByteArray turnLog;
    QTRY_VERIFY_WITH_TIMEOUT((turnLog += turn.readAll()).contains("Total General servers"), 10000);

    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    qputenv(kTurnUrlEnv, QString("turn:127.0.0.1:%1").arg(port).toUtf8());
    qputenv(kStunUrlEnv, QString("stun:127.0.0.1:%1").arg(port).toUtf8());
    qputenv(kTransportPolicyEnv, "relay");

    auto side = [&](test::FakeEnvironment& environment) {
      environment.endpoint.url = server.url();
      environment.makeRtcFactory = [] { return rtc::createWebRtcFactory(); };
      environment.displayList = StaticDisplayList({{1, 640, 360, QRect(0, 0, 640, 360)}});
      environment.peerConfig = peerConfiguration(environment.settings());
    };
    test::FakeEnvironment hostEnvironment, clientEnvironment;
    side(hostEnvironment);
    side(clientEnvironment);
    qunsetenv(kTurnUrlEnv);
    qunsetenv(kStunUrlEnv);
    qunsetenv(kTransportPolicyEnv);
    QCOMPARE(hostEnvironment.peerConfig.iceTransportPolicy, rtc::IceTransportPolicy::Relay);

    RemoteSession host(hostEnvironment);
    RemoteSession client(clientEnvironment);
    host.startHost("555000111");
    QTRY_COMPARE_WITH_TIMEOUT(host.status(), QString("En attente de connexion..."), 10000);
    client.startClient("555000111");
    QTRY_VERIFY_WITH_TIMEOUT(host.pendingJoin(), 10000);
    host.approve();

    QTRY_VERIFY_WITH_TIMEOUT(client.hasRemoteVideoTrack(), 30000);
    test::FrameCounter counter;
    client.remoteVideoTrack()->addSink(&counter);
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames.load() >= 3, 30000);
    QTRY_COMPARE(client.connectionState(), QString("connecté ✓"));
    // The relay allocated for our user: the media did go through it.
    QTRY_VERIFY2((turnLog += turn.readAll()).contains("user <rook>: incoming packet ALLOCATE processed, success"),
                 "the relay logged no allocation for the application's TURN user");
    client.remoteVideoTrack()->removeSink(&counter);

    client.stop("Session terminée par le client");
    turn.terminate();
    turn.waitForFinished(5000);
  }
};

QTEST_GUILESS_MAIN(TurnRelayTest)
#include "turn_relay_test.moc"
