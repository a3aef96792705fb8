// SPDX-License-Identifier: GPL-3.0-or-later
#include <QSignalSpy>
#include <QtTest>

#include "system/fake_permission_checks.h"
#include "system/permission_manager.h"

using namespace lunor;

class PermissionManagerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void statusesFollowThePlatform_data() {
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("capture");
    QTest::addColumn<int>("mic");
    QTest::addColumn<QString>("microphone");
    QTest::addColumn<bool>("allGranted");
    QTest::newRow("both granted") << true << true << int(MicrophoneAuthorization::Denied) << "denied" << true;
    QTest::newRow("no accessibility") << false << true << int(MicrophoneAuthorization::Authorized) << "granted" << false;
    QTest::newRow("no capture") << true << false << int(MicrophoneAuthorization::Restricted) << "denied" << false;
    QTest::newRow("microphone plays no part") << true << true << int(MicrophoneAuthorization::NotDetermined) << "unknown" << true;
  }
  void statusesFollowThePlatform() {
    QFETCH(bool, trusted);
    QFETCH(bool, capture);
    QFETCH(int, mic);
    QFETCH(QString, microphone);
    QFETCH(bool, allGranted);
    FakePermissionChecks checks;
    checks.trusted = trusted;
    checks.capture = capture;
    checks.mic = static_cast<MicrophoneAuthorization>(mic);
    PermissionManager manager(checks);
    QCOMPARE(manager.accessibility(), QString("unknown"));
    manager.refreshAll();
    QCOMPARE(manager.microphone(), microphone);  // at once
    QCOMPARE(manager.accessibility(), QString("unknown"));  // on the next turn
    QTRY_COMPARE(manager.accessibility(), QString(trusted ? "granted" : "denied"));
    QCOMPARE(manager.screenRecording(), QString(capture ? "granted" : "denied"));
    QCOMPARE(manager.allGranted(), allGranted);
    QCOMPARE(checks.prompts, 0);
  }

  void requestingCaptureChecksAgainThenCompletes() {
    FakePermissionChecks checks;
    PermissionManager manager(checks);
    bool completed = false;
    manager.requestScreenRecording([&] { completed = true; });
    QCOMPARE(checks.requests, 1);
    QTRY_VERIFY(completed);
    QTRY_COMPARE(manager.screenRecording(), QString("granted"));
    manager.checkAccessibility(true);
    QCOMPARE(checks.prompts, 1);
  }
};

QTEST_GUILESS_MAIN(PermissionManagerTest)
#include "permission_manager_test.moc"
