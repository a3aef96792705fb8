// SPDX-License-Identifier: GPL-3.0-or-later
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "session/service_config.h"

using namespace lunor;

class ServiceConfigTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void acceptsOnlySafeSignalingUrls_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("ws on 127.0.0.1") << "ws://127.0.0.1:8787/signal" << true;
    QTest::newRow("ws on 127.5.6.7") << "ws://127.5.6.7/signal" << true;
    QTest::newRow("ws on localhost") << "ws://localhost:8787/signal" << true;
    QTest::newRow("ws on ::1") << "ws://[::1]:8787/signal" << true;
    QTest::newRow("ws on a LAN address") << "ws://192.168.1.10:8787/signal" << false;
    QTest::newRow("ws on a name") << "ws://signal.example.org/signal" << false;
    QTest::newRow("ws on localhost lookalike") << "ws://localhost.example.org/signal" << false;
    QTest::newRow("wss anywhere") << "wss://signal.example.org/signal" << true;
    QTest::newRow("http") << "http://127.0.0.1/signal" << false;
    QTest::newRow("no host") << "ws:///signal" << false;
    QTest::newRow("garbage") << "not a url" << false;
  }
  void acceptsOnlySafeSignalingUrls() {
    QFETCH(QString, url);
    QFETCH(bool, accepted);
    QCOMPARE(!signalingUrlProblem(QUrl(url)).has_value(), accepted);
  }

  void environmentBeatsSettingsBeatsDefault() {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    qunsetenv(kSignalingUrlEnv);
    QCOMPARE(signalingEndpoint(settings).url, QUrl(kDefaultSignalingUrl));

    settings.setValue(kSignalingUrlKey, "wss://signal.example.org/signal");
    settings.setValue(kSignalingCaFileKey, "/etc/lunor/ca.pem");
    QCOMPARE(signalingEndpoint(settings).url, QUrl("wss://signal.example.org/signal"));
    QCOMPARE(signalingEndpoint(settings).extraCaFile, QString("/etc/lunor/ca.pem"));

    qputenv(kSignalingUrlEnv, "ws://127.0.0.1:9999/signal");
    QCOMPARE(signalingEndpoint(settings).url, QUrl("ws://127.0.0.1:9999/signal"));
    qunsetenv(kSignalingUrlEnv);
  }

  void peerConfigurationHasStunThenTurn() {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    qunsetenv(kStunUrlEnv);
    qputenv(kTurnUrlEnv, "turn:127.0.0.1:3479");
    const rtc::Configuration config = peerConfiguration(settings);
    qunsetenv(kTurnUrlEnv);
    QCOMPARE(config.iceServers.size(), size_t(2));
    QCOMPARE(config.iceServers[0].urls, std::vector<std::string>{kDefaultStunUrl});
    QVERIFY(config.iceServers[0].username.empty());
    // A relay named without a transport is reached over UDP or TCP.
    QCOMPARE(config.iceServers[1].urls,
             (std::vector<std::string>{"turn:127.0.0.1:3479?transport=udp", "turn:127.0.0.1:3479?transport=tcp"}));
    QVERIFY(!config.iceServers[1].username.empty());
  }
};

QTEST_GUILESS_MAIN(ServiceConfigTest)
#include "service_config_test.moc"
