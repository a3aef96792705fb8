// SPDX-License-Identifier: GPL-3.0-or-later
// What the windows say of sizes and transfers.

#include <QtTest>

#include "features/transfer_text.h"

using namespace lunor;
using State = TransferProgress::State;

class TransferTextTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void sizes_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("bytes") << qint64(999) << "999 o";
    QTest::newRow("a kilobyte") << qint64(1000) << "1,00 Ko";
    QTest::newRow("rounds up a unit") << qint64(999'960) << "1,00 Mo";
    QTest::newRow("tens") << qint64(12'345'678) << "12,3 Mo";
    QTest::newRow("hundreds") << qint64(480'000'000) << "480 Mo";
    QTest::newRow("a GiB") << qint64(1) * 1024 * 1024 * 1024 << "1,07 Go";
    QTest::newRow("beyond the units") << qint64(5'000'000'000'000'000) << "5 000 To";
  }
  void sizes() {
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(byteSizeText(bytes).replace(QChar(0x202F), ' ').replace(QChar(0xA0), ' '), text);
  }

  void rows_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("outgoing");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<bool>("active");
    QTest::newRow("sent, waiting") << int(State::Waiting) << true << "En attente de l’autre ordinateur…" << 0.0 << true;
    QTest::newRow("received, waiting") << int(State::Waiting) << false << "En attente de votre accord…" << 0.0 << true;
    QTest::newRow("running") << int(State::Running) << true << "25,0 Mo sur 100 Mo · 5,00 Mo/s" << 0.25 << true;
    QTest::newRow("received") << int(State::Done) << false << "Reçu · 100 Mo" << 1.0 << false;
    QTest::newRow("failed") << int(State::Failed) << false << "Échec : empreinte SHA-256 différente" << 0.25 << false;
    QTest::newRow("declined") << int(State::Declined) << true << "Refusé : refusé" << 0.25 << false;
  }
  void rows() {
    QFETCH(int, state);
    QFETCH(bool, outgoing);
    QFETCH(QString, detail);
    QFETCH(double, fraction);
    QFETCH(bool, active);
    TransferProgress p;
    p.state = State(state);
    p.name = QStringLiteral("outil.iso");
    p.size = 100'000'000;
    p.confirmed = p.state == State::Done ? p.size : p.state == State::Waiting ? 0 : 25'000'000;
    p.bytesPerSecond = 5'000'000;
    p.reason = p.state == State::Failed ? QStringLiteral("empreinte SHA-256 différente") : QStringLiteral("refusé");
    const QVariantList rows = transferRows({{QStringLiteral("file:1"), outgoing, p}});
    QCOMPARE(rows.size(), 1);
    const QVariantMap row = rows.front().toMap();
    QCOMPARE(row.value("id").toString(), QStringLiteral("file:1"));
    QCOMPARE(row.value("name").toString(), QStringLiteral("outil.iso"));
    QCOMPARE(row.value("detail").toString().replace(QChar(0x202F), ' ').replace(QChar(0xA0), ' '), detail);
    QCOMPARE(row.value("fraction").toDouble(), fraction);
    QCOMPARE(row.value("active").toBool(), active);
  }
};

QTEST_APPLESS_MAIN(TransferTextTest)
#include "transfer_text_test.moc"
