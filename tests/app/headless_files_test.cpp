// SPDX-License-Identifier: GPL-3.0-or-later
// Files end to end: lunor-signal, a headless host (unattended: it takes
// files unasked) on a private X server and a headless client sending them.

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "remote_process.h"
#include "signal_server_process.h"
#include "virtual_display.h"

using namespace lunor;

namespace {

constexpr char kPassword[] = "correct horse";

QByteArray digestOf(const QString& path) {
  QFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
  return hash.result();
}

}  // namespace

class HeadlessFilesTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::VirtualDisplay> screen;
  std::unique_ptr<test::SignalServerProcess> server;
  QTemporaryDir files;

 private Q_SLOTS:
  void initTestCase() {
    screen = std::make_unique<test::VirtualDisplay>(/*twoMonitors=*/false);
    QVERIFY2(screen->isRunning(), qPrintable(screen->error()));
    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
  }
  void cleanupTestCase() {
    server.reset();
    screen.reset();
  }

  void filesArriveIntactUnderSafeNames() {
    // The host's home is the test's: its Downloads folder too.
    const QString home = files.filePath("host-home");
    QDir().mkpath(home);
    test::RemoteProcess host(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    QProcessEnvironment env;
    env.insert("HOME", home);
    host.setEnvironment(env);
    QVERIFY2(host.startUnattendedHost(kPassword), qPrintable(host.output()));

    // 200 MiB that do not compress, and a small file under a hostile name.
    const QString big = files.filePath("big.bin");
    {
      QFile f(big);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QByteArray block(1 << 20, Qt::Uninitialized);
      for (int i = 0; i < 200; ++i) {
        for (auto& b : block) b = char(QRandomGenerator::global()->generate());
        f.write(block);
      }
    }
    QDir().mkpath(files.filePath("src"));
    const QString hostile = files.filePath("src/.bashrc");
    {
      QFile f(hostile);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("echo hello\n");
    }
    QFile password(files.filePath("password"));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write(QByteArray(kPassword) + "\n");
    password.close();

    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    QVERIFY(client.start({"--headless-client", host.roomId(), "--password-file", password.fileName(), "--send-file",
                          big, "--send-file", hostile}));
    QVERIFY2(QTest::qWaitFor([&] { return client.process().state() == QProcess::NotRunning; }, 240000),
             qPrintable(client.output().right(3000)));
    QVERIFY2(client.process().exitCode() == 0,
             qPrintable(QString("exit %1\n%2\n--- host\n%3")
                            .arg(client.process().exitCode())
                            .arg(client.output().mid(std::max<qsizetype>(0, client.output().indexOf("ERROR: ")), 3500),
                                 host.output().mid(std::max<qsizetype>(0, host.output().indexOf("ERROR: ")), 3500))));

    const QDir received(home + "/Downloads/Lunor Remote");
    QCOMPARE(received.entryList(QDir::Files | QDir::Hidden), (QStringList{"bashrc", "big.bin"}));
    QCOMPARE(digestOf(received.filePath("big.bin")), digestOf(big));
    QVERIFY(host.output().contains("📁 Fichier reçu : " + received.filePath("big.bin")));
  }
};

QTEST_GUILESS_MAIN(HeadlessFilesTest)
#include "headless_files_test.moc"
