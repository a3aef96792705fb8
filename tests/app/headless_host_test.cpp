// The shipped binary, run as a headless host against a test signaling server.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "test_ws_server.h"

using lunor::test::TestWsServer;

class HeadlessHostTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void connectsLogsAndExitsCleanlyOnSigterm() {
    TestWsServer server;
    QTemporaryDir home;
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LUNOR_SIGNALING_URL", server.url().toString());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    host.setProcessEnvironment(env);
    host.setProcessChannelMode(QProcess::MergedChannels);
    host.start(LUNOR_REMOTE_BINARY, {"--headless-host"});
    QVERIFY2(host.waitForStarted(10000), qPrintable(host.errorString()));

    QTRY_COMPARE_WITH_TIMEOUT(server.openClients(), 1, 20000);
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT(
        (output += host.readAll()).contains("[RemoteSession] ✅ WebRTC factory initialisée"),
        10000);
    QTRY_VERIFY_WITH_TIMEOUT((output += host.readAll()).contains("🔌 WebSocket connecté (role=HOST"),
                             10000);

    // Still up a moment later.
    QTest::qWait(500);
    QCOMPARE(host.state(), QProcess::Running);

    host.terminate();  // SIGTERM
    QVERIFY(host.waitForFinished(20000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    QTRY_COMPARE(server.openClients(), 0);

    // The machine ID was stored for the next launch.
    QFile settings(home.filePath("config/LunorRemote/LunorRemote.conf"));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(settings.readAll().contains("KOVA_REMOTE_MACHINE_ID_V1="));
  }
};

QTEST_GUILESS_MAIN(HeadlessHostTest)
#include "headless_host_test.moc"
