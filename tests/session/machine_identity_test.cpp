// SPDX-License-Identifier: GPL-3.0-or-later
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "fake_environment.h"
#include "session/app_state.h"
#include "session/machine_identity.h"

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

class MachineIdentityTest : public QObject {
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
};

QTEST_GUILESS_MAIN(MachineIdentityTest)
#include "machine_identity_test.moc"
