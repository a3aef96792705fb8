// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "protocol/file_names.h"

using namespace lunor;

class FileNamesTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void sanitized_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("saved");
    QTest::newRow("plain") << "rapport.pdf" << "rapport.pdf";
    QTest::newRow("climbing out with ..") << "../../.bashrc" << "bashrc";
    QTest::newRow("a Unix path") << "a/b" << "b";
    QTest::newRow("a Windows path") << "C:\\Users\\x\\notes.txt" << "notes.txt";
    QTest::newRow("only dots") << ".." << "fichier";
    QTest::newRow("empty") << "" << "fichier";
    QTest::newRow("a reserved Windows name is a plain name here") << "CON" << "CON";
    QTest::newRow("control characters") << QString("in\x01voice\x1b[31m\n.txt") << "invoice[31m.txt";
    QTest::newRow("a bell and a delete only") << QString("\x07\x7f") << "fichier";
    QTest::newRow("spaces around") << "  hello.txt  " << "hello.txt";
    QTest::newRow("a direction override") << QString("facture\u202Efdp.desktop") << "facturefdp.desktop";
    QTest::newRow("an isolate and a mark") << QString("\u2067a\u200Fb.txt") << "ab.txt";
  }
  void sanitized() {
    QFETCH(QString, name);
    QFETCH(QString, saved);
    QCOMPARE(sanitizeFileName(name), saved);
  }

  void longNamesFitAndKeepTheirExtension() {
    for (const QString& unit : {QString("a"), QString("é"), QString("😀")}) {
      const QString saved = sanitizeFileName(unit.repeated(10'000) + ".tar.gz");
      QVERIFY(saved.toUtf8().size() <= 255);
      QVERIFY(saved.endsWith(".gz"));
      QVERIFY(saved.startsWith(unit));
      QVERIFY(!saved.contains(QChar(0xfffd)));  // no half character
    }
  }

  void neverOverAnExistingFile() {
    QTemporaryDir dir;
    auto touch = [&](const QString& name) {
      QFile f(dir.filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
    };
    QCOMPARE(unusedFileName(dir.path(), "photo.jpg"), QString("photo.jpg"));
    touch("photo.jpg");
    QCOMPARE(unusedFileName(dir.path(), "photo.jpg"), QString("photo (2).jpg"));
    touch("photo (2).jpg.part");  // one being received counts
    QCOMPARE(unusedFileName(dir.path(), "photo.jpg"), QString("photo (3).jpg"));
    touch("README");
    QCOMPARE(unusedFileName(dir.path(), "README"), QString("README (2)"));
    const QString longName = sanitizeFileName(QString(300, 'x') + ".txt");
    touch(longName);
    const QString numbered = unusedFileName(dir.path(), longName);
    QVERIFY(numbered.endsWith(" (2).txt"));
    QVERIFY(numbered.toUtf8().size() <= 255);
  }
};

QTEST_GUILESS_MAIN(FileNamesTest)
#include "file_names_test.moc"
