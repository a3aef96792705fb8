// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped binary, run as a headless host with no X server against a
// test signaling server.

#include <QtTest>

#include "remote_process.h"
#include "test_ws_server.h"

using lunor::test::RemoteProcess;
using lunor::test::TestWsServer;

class HeadlessHostTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void connectsLogsAndExitsCleanlyOnSigterm() {
    TestWsServer server;
    RemoteProcess host(LUNOR_REMOTE_BINARY, server.url(), QString());
    QVERIFY(host.start({"--headless-host"}));
    QTRY_COMPARE_WITH_TIMEOUT(server.openClients(), 1, 20000);
    QVERIFY2(host.waitForOutput("[RemoteSession] ✅ WebRTC factory initialisée"), qPrintable(host.output()));
    QVERIFY(host.waitForOutput("🔌 WebSocket connecté (role=HOST"));
    const QString id = host.roomId();
    QVERIFY(!id.isEmpty());

    // Still up a moment later.
    QTest::qWait(500);
    QCOMPARE(host.process().state(), QProcess::Running);
    QCOMPARE(host.stop(), 0);  // SIGTERM
    QTRY_COMPARE(server.openClients(), 0);

    // The machine's ID was stored for the next launch.
    QVERIFY(host.start({"--headless-host"}));
    QCOMPARE(host.roomId(), id);
  }
};

QTEST_GUILESS_MAIN(HeadlessHostTest)
#include "headless_host_test.moc"
