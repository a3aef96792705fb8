// SPDX-License-Identifier: GPL-3.0-or-later
// Translations complete for the sources; the one installed follows the person's languages.

#include <memory>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include "client/session_words.h"
#include "ui/translation.h"
#include "ui/ui_text.h"

namespace lunor {
namespace {

// The messages of a .ts still waiting for their translation, or left there
// by a text the sources no longer have: "source (type)" each.
QStringList untranslated(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {path + QStringLiteral(": unreadable")};
  QStringList found;
  QXmlStreamReader xml(&file);
  QString source;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("source")) {
      source = xml.readElementText();
    } else if (xml.name() == QLatin1String("translation")) {
      const QString type = xml.attributes().value(QLatin1String("type")).toString();
      if (xml.readElementText().isEmpty() || !type.isEmpty()) found << QStringLiteral("%1 (%2)").arg(source, type);
    }
  }
  if (xml.hasError()) found << xml.errorString();
  return found;
}

}  // namespace

class TranslationTest final : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // lupdate over the sources into a copy of each .ts: a text added or
  // changed since comes out unfinished, one gone from the sources vanished.
  void complete_data() {
    QTest::addColumn<QString>("file");
    const QDir dir(QStringLiteral(LUNOR_TRANSLATIONS_DIR));
    const QStringList names = dir.entryList({QStringLiteral("*.ts")});
    QVERIFY(!names.isEmpty());
    for (const QString& name : names) QTest::newRow(qPrintable(name)) << dir.filePath(name);
  }
  void complete() {
    QFETCH(QString, file);
    QTemporaryDir work;
    const QString copy = work.filePath(QFileInfo(file).fileName());
    QVERIFY(QFile::copy(file, copy));
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner));
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    lupdate.start(QStringLiteral(LUNOR_LUPDATE), {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                                                  QStringLiteral("@" LUNOR_TRANSLATED_SOURCES), QStringLiteral("-ts"), copy});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitCode(), 0);
    const QStringList missing = untranslated(copy);
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("out of step with the sources (`ninja update_translations`, "
                                                          "then translate the unfinished):\n") + missing.join(QLatin1Char('\n'))));
  }

  // A text of the screens (QML) and one of their C++ backing, as shown.
  void chosen_data() {
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("share");
    QTest::addColumn<QString>("none");
    const QString english = QStringLiteral("Share my screen"), french = QStringLiteral("Partager mon écran");
    const QString noneEnglish = QStringLiteral("0 connections"), noneFrench = QStringLiteral("0 connexion");
    QTest::newRow("English") << QStringList{"en-US", "en"} << english << noneEnglish;
    QTest::newRow("English, another country") << QStringList{"en-GB"} << english << noneEnglish;
    QTest::newRow("French") << QStringList{"fr-FR", "fr"} << french << noneFrench;
    QTest::newRow("French before English") << QStringList{"fr-CA", "fr", "en"} << french << noneFrench;
    QTest::newRow("no translation, then English") << QStringList{"de-DE", "de", "en"} << english << noneEnglish;
    QTest::newRow("no translation") << QStringList{"de-DE", "de"} << french << noneFrench;
    QTest::newRow("C locale") << QStringList{"C"} << french << noneFrench;
    QTest::newRow("none") << QStringList{} << french << noneFrench;
  }
  void chosen() {
    QFETCH(QStringList, languages);
    QFETCH(QString, share);
    QFETCH(QString, none);
    const std::unique_ptr<QTranslator> installed(installTranslation(*QCoreApplication::instance(), languages));
    QCOMPARE(QCoreApplication::translate("HomeScreen", "Partager mon écran"), share);
    QCOMPARE(UiText().connectionCount(0), none);
  }

  // What a peer wrote in its "end" reaches the reader in their language
  // when it is one of our sentences, and as it came otherwise.
  void peerReasons_data() {
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("shown");
    const QStringList en{"en-US"};
    QTest::newRow("host ended") << en << QString("Session terminée par l’hôte") << QString("Session ended by the host");
    QTest::newRow("named departure") << en << QString("Alice Martin s’est déconnecté de votre ordinateur")
                                     << QString("Alice Martin disconnected from your computer");
    QTest::newRow("name alone is no departure") << en << QString(" s’est déconnecté de votre ordinateur")
                                                << QString(" s’est déconnecté de votre ordinateur");
    QTest::newRow("someone else's words") << en << QString("Bye!") << QString("Bye!");
    QTest::newRow("French stays as sent") << QStringList{"fr-FR"} << QString("Alice s’est déconnecté de votre ordinateur")
                                          << QString("Alice s’est déconnecté de votre ordinateur");
  }
  void peerReasons() {
    QFETCH(QStringList, languages);
    QFETCH(QString, reason);
    QFETCH(QString, shown);
    const std::unique_ptr<QTranslator> installed(installTranslation(*QCoreApplication::instance(), languages));
    QCOMPARE(endReasonText(EndCause::PeerEnded, reason, Role::Host), shown);
  }
};

}  // namespace lunor

QTEST_GUILESS_MAIN(lunor::TranslationTest)
#include "translation_test.moc"
