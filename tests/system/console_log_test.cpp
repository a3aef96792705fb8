// SPDX-License-Identifier: GPL-3.0-or-later
// Logging rules silence a folder's console lines on standard output and in a
// sink alike; a line shown is printed exactly as given.

#include <unistd.h>

#include <cstdio>
#include <functional>

#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QtTest>

#include "console_capture.h"
#include "host/host_log.h"
#include "system/console_log.h"
#include "system/system_log.h"

using namespace lunor;

namespace {

// What `print` writes to the process's standard output.
QByteArray standardOutputOf(const std::function<void()>& print) {
  QTemporaryFile file;
  if (!file.open()) return "(no temporary file)";
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(file.handle(), STDOUT_FILENO);
  print();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  QFile written(file.fileName());
  written.open(QIODevice::ReadOnly);
  return written.readAll();
}

}  // namespace

class ConsoleLogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cleanup() { QLoggingCategory::setFilterRules(QString()); }

  void rulesDecideWhichFoldersPrint_data() {
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("host");  // the line is the host's, else the system's
    QTest::addColumn<bool>("shown");
    QTest::newRow("no rule") << "" << true << true;
    QTest::newRow("the host's info off") << "lunor.host.info=false" << true << false;
    QTest::newRow("the host's info off, the system's lines stay") << "lunor.host.info=false" << false << true;
    QTest::newRow("the host's folder off") << "lunor.host=false" << true << false;
    QTest::newRow("only the host's debug off") << "lunor.host.debug=false" << true << true;
    QTest::newRow("everything off but the system") << "lunor.*=false\nlunor.system=true" << false << true;
    QTest::newRow("everything off but the system, the host") << "lunor.*=false\nlunor.system=true" << true << false;
  }
  void rulesDecideWhichFoldersPrint() {
    QFETCH(QString, rules);
    QFETCH(bool, host);
    QFETCH(bool, shown);
    QLoggingCategory::setFilterRules(rules);
    const QLoggingCategory& category = host ? lcHost() : lcSystem();
    const QString line = QStringLiteral("[ScreenCapturer] ✅ Capture démarrée 1920x1080 @30fps sur écran #0");

    const QByteArray printed = standardOutputOf([&] { consoleLine(category, line); });
    QCOMPARE(printed, shown ? (line + QLatin1Char('\n')).toUtf8() : QByteArray());

    test::ConsoleCapture console;
    consoleLine(category, line);
    QCOMPARE(console.lines(), shown ? QStringList{line} : QStringList());
  }
};

QTEST_GUILESS_MAIN(ConsoleLogTest)
#include "console_log_test.moc"
