// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "session/duration_text.h"

using namespace lunor;

class DurationTextTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
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

QTEST_GUILESS_MAIN(DurationTextTest)
#include "duration_text_test.moc"
