// SPDX-License-Identifier: GPL-3.0-or-later
// The machine's ID, where the services are, how durations read.

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "fake_environment.h"
#include "session/app_state.h"
#include "session/duration_text.h"
#include "session/machine_identity.h"
#include "session/service_config.h"

using namespace lunor;

namespace {

// Hands out the given words in order, then fails the test if asked for more.
struct ScriptedWords {
  QList<quint64> words;
  int used = 0;
  RandomWords source() {
    return [this]() -> uint64_t {
      if (used >= words.size()) {
        qFatal("random source asked for more words than scripted");
      }
      return words.at(used++);
    };
  }
};

}  // namespace

class SessionValuesTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void drawsFromScriptedWords_data() {
    QTest::addColumn<QList<quint64>>("words");
    QTest::addColumn<QString>("expectedId");
    QTest::addColumn<int>("wordsUsed");
    // 900000000 * word: the high 64 bits are the draw; a low half under
    // 2^64 mod 900000000 (109551616) is rejected and redrawn.
    QTest::newRow("smallest") << QList<quint64>{5} << "100000000" << 1;
    QTest::newRow("largest") << QList<quint64>{~0ULL} << "999999999" << 1;
    QTest::newRow("middle") << QList<quint64>{(1ULL << 63) + 1} << "550000000" << 1;
    QTest::newRow("half, low half zero, is rejected")
        << QList<quint64>{1ULL << 63, 5} << "100000000" << 2;
    QTest::newRow("just above the threshold is kept")
        << QList<quint64>{20496382305ULL} << "100000001" << 1;
  }
  void drawsFromScriptedWords() {
    QFETCH(QList<quint64>, words);
    QFETCH(QString, expectedId);
    QFETCH(int, wordsUsed);
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    ScriptedWords script{words};
    QCOMPARE(machineId(settings, script.source()), expectedId);
    QCOMPARE(script.used, wordsUsed);
    QCOMPARE(settings.value(kMachineIdKey).toString(), expectedId);
  }

  void storedIdIsReturnedByteForByte_data() {
    QTest::addColumn<QString>("stored");
    QTest::newRow("nine digits") << "123456789";
    QTest::newRow("edited, not digits") << "abc-déf";
    QTest::newRow("leading zero") << "012345678";
    QTest::newRow("empty string") << "";
  }
  void storedIdIsReturnedByteForByte() {
    QFETCH(QString, stored);
    QTemporaryDir dir;
    const QString path = dir.filePath("s.ini");
    {
      QSettings settings(path, QSettings::IniFormat);
      settings.setValue(kMachineIdKey, stored);
    }
    // A later launch: a new settings object over the same file.
    QSettings settings(path, QSettings::IniFormat);
    ScriptedWords none;
    QCOMPARE(machineId(settings, none.source()), stored);
    QCOMPARE(none.used, 0);
  }

  void idSurvivesRelaunchAndIsMirrored() {
    test::FakeEnvironment environment;
    QString first;
    {
      AppState state(environment);
      first = state.sessionId();
      QCOMPARE(first.size(), 9);
      QVERIFY(first.front() != QLatin1Char('0'));
    }
    AppState again(environment);
    QCOMPARE(again.sessionId(), first);
    QCOMPARE(environment.settings().value(kSessionIdKey).toString(), first);
  }

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

  void formats_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("endText");
    QTest::addColumn<QString>("hudText");
    QTest::newRow("zero") << qint64(0) << "0s" << "00:00";
    QTest::newRow("negative clock skew") << qint64(-5) << "0s" << "00:00";
    QTest::newRow("59 s") << qint64(59) << "59s" << "00:59";
    QTest::newRow("one minute") << qint64(60) << "1m 00s" << "01:00";
    QTest::newRow("3m 07s") << qint64(187) << "3m 07s" << "03:07";
    QTest::newRow("just under an hour") << qint64(3599) << "59m 59s" << "59:59";
    QTest::newRow("one hour") << qint64(3600) << "1h 00m 00s" << "01:00:00";
    QTest::newRow("26 hours") << qint64(93784) << "26h 03m 04s" << "26:03:04";
  }
  void formats() {
    QFETCH(qint64, seconds);
    QFETCH(QString, endText);
    QFETCH(QString, hudText);
    QCOMPARE(endDurationText(seconds), endText);
    QCOMPARE(hudDurationText(seconds), hudText);
  }
};

QTEST_GUILESS_MAIN(SessionValuesTest)
#include "session_values_test.moc"
