// SPDX-License-Identifier: GPL-3.0-or-later
// The shared clipboard end to end: lunor-signal, a headless host on one X
// server and a headless client on another; each side's real CLIPBOARD
// selection is set and read with xclip, as another program would.

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "image_compare.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "virtual_display.h"

using namespace lunor;

namespace {

constexpr char kPassword[] = "correct horse";

// xclip on `display`: sets the CLIPBOARD selection (it stays in the
// background, serving it, until another program takes it over), or reads it.
bool xclipSet(const QString& display, const QByteArray& data, const QString& type = "UTF8_STRING") {
  QProcess xclip;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  xclip.setProcessEnvironment(env);
  xclip.start("xclip", {"-selection", "clipboard", "-t", type, "-i"});
  if (!xclip.waitForStarted(5000)) return false;
  xclip.write(data);
  xclip.closeWriteChannel();
  return xclip.waitForFinished(10000) && xclip.exitCode() == 0;
}
QByteArray xclipGet(const QString& display, const QString& type = "UTF8_STRING") {
  QProcess xclip;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  xclip.setProcessEnvironment(env);
  xclip.start("xclip", {"-selection", "clipboard", "-t", type, "-o"});
  if (!xclip.waitForFinished(10000) || xclip.exitCode() != 0) return {};
  return xclip.readAllStandardOutput();
}

}  // namespace

class HeadlessClipboardTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::VirtualDisplay> hostScreen, clientScreen;
  std::unique_ptr<test::SignalServerProcess> server;
  QTemporaryDir files;

 private Q_SLOTS:
  void initTestCase() {
    hostScreen = std::make_unique<test::VirtualDisplay>(/*twoMonitors=*/false);
    clientScreen = std::make_unique<test::VirtualDisplay>(/*twoMonitors=*/false);
    QVERIFY2(hostScreen->isRunning(), qPrintable(hostScreen->error()));
    QVERIFY2(clientScreen->isRunning(), qPrintable(clientScreen->error()));
    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
  }
  void cleanupTestCase() {
    server.reset();
    clientScreen.reset();
    hostScreen.reset();
  }

  void textAndPicturesBothWaysWithoutEcho() {
    test::RemoteProcess host(LUNOR_REMOTE_BINARY, server->url(), hostScreen->name());
    QVERIFY(xclipSet(hostScreen->name(), "déjà là"));  // there before the session: it stays there
    QVERIFY2(host.startUnattendedHost(kPassword), qPrintable(host.output()));
    QFile passwordFile(files.filePath("password"));
    QVERIFY(passwordFile.open(QIODevice::WriteOnly));
    passwordFile.write(QByteArray(kPassword) + "\n");
    passwordFile.close();

    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server->url(), clientScreen->name());
    QVERIFY(client.start({"--headless-client", host.roomId(), "--password-file", passwordFile.fileName(),
                          "--clipboard-print"}));
    QVERIFY2(host.waitForOutput("📋 Presse-papiers partagé", 30000), qPrintable(host.output()));
    QVERIFY(xclipSet(hostScreen->name(), "copié sur l’hôte"));
    QVERIFY2(client.waitForOutput("📋 copié sur l’hôte", 30000), qPrintable(client.output()));
    QVERIFY(!client.output().contains("déjà là"));
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(xclipGet(clientScreen->name())), QString("copié sur l’hôte"), 10000);

    // Client to host.
    QVERIFY(xclipSet(clientScreen->name(), "copié chez le client"));
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(xclipGet(hostScreen->name())), QString("copié chez le client"), 10000);

    // A picture, host to client, as PNG both ends.
    QImage picture(320, 200, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    for (int x = 0; x < 320; ++x) picture.setPixel(x, x % 200, 0xffffffffu);
    QVERIFY(xclipSet(hostScreen->name(), test::pngBytes(picture), "image/png"));
    QVERIFY2(client.waitForOutput("📋 image 320x200", 15000), qPrintable(client.output()));
    QImage received;
    QTRY_VERIFY_WITH_TIMEOUT(received.loadFromData(xclipGet(clientScreen->name(), "image/png"), "PNG"), 10000);
    QCOMPARE(received.convertToFormat(QImage::Format_RGB32), picture);

    // Too long for the other side: skipped there, said here.
    QVERIFY(xclipSet(clientScreen->name(), QByteArray((1 << 20) + 1, 'a')));
    QVERIFY(client.waitForOutput("📋 Presse-papiers non envoyé : texte trop long", 10000));

    // Nothing went back: each side sent what was copied on it, once.
    QTest::qWait(1000);
    QCOMPARE(host.output().count("📋 Presse-papiers envoyé"), 2);    // at the start, the picture
    QCOMPARE(client.output().count("📋 Presse-papiers envoyé"), 1);  // the client's text
    QCOMPARE(host.output().count("📋 Presse-papiers reçu"), 1);
  }
};

QTEST_GUILESS_MAIN(HeadlessClipboardTest)
#include "headless_clipboard_test.moc"
