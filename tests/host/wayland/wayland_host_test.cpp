// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal, the headless host on a headless Mutter and a headless client;
// the probe shows a known picture on each monitor and says what input reaches it.
//
//   (0,0) +-------------------+ (1280,0) +-------------+
//         | Meta-0  1280x720  |          | Meta-1      |
//         | probe window 0    |          | 1024x768    |
//         +-------------------+          | probe 1     |
//                                        +-------------+

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "headless_desktop.h"
#include "image_compare.h"
#include "protocol/key_codes.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "wayland_probe_picture.h"

using namespace lunor;

namespace {

constexpr char kPassword[] = "correct horse";

// The sanitized build starves the compositor: timing checks run in the normal build.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

}  // namespace

class WaylandHostTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::HeadlessDesktop> desktop;
  std::unique_ptr<QProcess> probe;
  QByteArray probeOutput;
  std::unique_ptr<test::SignalServerProcess> server;
  std::unique_ptr<test::RemoteProcess> host;
  QTemporaryDir files;

  // What the probe has said since the last call.
  QStringList probeLines() {
    probeOutput += probe->readAll();
    const qsizetype end = probeOutput.lastIndexOf('\n');
    if (end < 0) return {};
    const QStringList lines = QString::fromUtf8(probeOutput.left(end)).split('\n');
    probeOutput.remove(0, end + 1);
    return lines;
  }
  // Collects the probe's lines until `until` holds for them (or 20 s).
  QStringList collect(const std::function<bool(const QStringList&)>& until, int timeoutMs = 20000) {
    QStringList lines;
    std::ignore = QTest::qWaitFor(
        [&] {
          lines += probeLines();
          return until(lines);
        },
        timeoutMs);
    return lines;
  }
  // A client that replays `messages` (and asks nothing else), then leaves.
  int replay(const QList<QJsonObject>& messages, int seconds, QString* output = nullptr) {
    QFile file(files.filePath("replay.jsonl"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return -1;
    for (const auto& message : messages) file.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + "\n");
    file.close();
    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server->url(), QString());
    if (!client.startClient(host->roomId(), kPassword,
                            {"--seconds", QString::number(seconds), "--replay", file.fileName(), "--save-frame",
                             files.filePath("frame.png")})) {
      return -1;
    }
    const int code = client.exitCode(60000);
    if (output) *output = client.output();
    return code;
  }
  static QJsonObject at(int afterMs, QJsonObject message) {
    message.insert("after", afterMs);
    return message;
  }

 private Q_SLOTS:
  void initTestCase() {
    desktop = std::make_unique<test::HeadlessDesktop>();
    QVERIFY2(desktop->isRunning(), qPrintable(desktop->error()));
    probe = desktop->launch(LUNOR_WAYLAND_PROBE);
    QVERIFY(probe);
    const QStringList ready = collect([](const QStringList& lines) {
      return lines.filter(QRegularExpression("^ready ")).size() == 2;
    });
    QVERIFY2(ready.contains("ready 0 1280x720") && ready.contains("ready 1 1024x768"), qPrintable(ready.join('\n')));
    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
    host = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), QString());
    host->setEnvironment(desktop->sessionVariables());
    QVERIFY2(host->startUnattendedHost(kPassword), qPrintable(host->output()));
    // Chosen from the session: a Wayland one where GNOME's remote desktop answers.
    QVERIFY2(host->output().contains("Partage d’écran : Wayland (GNOME)"), qPrintable(host->output()));
  }
  void cleanupTestCase() {
    host.reset();
    server.reset();
    probe.reset();
    desktop.reset();
  }

  // The picture the client receives is the compositor's; switching displays
  // re-records the other monitor, at its own size, and clicks land on the
  // pixel they were aimed at on each.
  void clicksLandOnTheRightPixelOfEachMonitor() {
    if (kSanitized) QSKIP("input timing on a starved compositor (sanitized build)");
    probeLines();
    QString output;
    const int code = replay({at(1500, {{"t", "mdown"}, {"b", 0}, {"x", 0.25}, {"y", 0.5}}),
                             at(50, {{"t", "mup"}, {"b", 0}, {"x", 0.25}, {"y", 0.5}}),
                             at(200, {{"switchDisplay", 1}}),
                             at(2500, {{"t", "mdown"}, {"b", 1}, {"x", 0.75}, {"y", 0.25}}),
                             at(50, {{"t", "mup"}, {"b", 1}, {"x", 0.75}, {"y", 0.25}})},
                            6, &output);
    QCOMPARE(code, 0);
    const QStringList lines = collect([](const QStringList& l) { return l.filter("release 1 2").size() == 1; });
    QVERIFY2(lines.contains("press 0 1 320 360"), qPrintable(lines.join('\n')));
    QVERIFY2(lines.contains("press 1 2 768 192"), qPrintable(lines.join('\n')));
    QVERIFY2(output.contains("videoGeometry reçu: 1280x720 (display 0)"), qPrintable(output));
    QVERIFY2(output.contains("videoGeometry reçu: 1024x768 (display 1)"), qPrintable(output));
    // The last picture is the second monitor's.
    const QImage received(files.filePath("frame.png"));
    QCOMPARE(received.size(), QSize(1024, 768));
    const double quality =
        test::psnr(received.convertToFormat(QImage::Format_RGB32), test::probePicture(QSize(1024, 768), 1));
    QVERIFY2(quality > 30, qPrintable(QString("PSNR %1 dB").arg(quality)));
  }

  // Every key of the table arrives as the same physical key; the wheel
  // scrolls the way the client's did; a double click counts two; nothing
  // stays pressed once the session is over.
  void keysWheelDoubleClickAndReleases() {
    if (kSanitized) QSKIP("input timing on a starved compositor (sanitized build)");
    probeLines();
    // The host shares what it shared last: the first monitor again.
    QList<QJsonObject> messages{at(300, {{"switchDisplay", 0}}),
                                at(2500, {{"t", "mdown"}, {"b", 0}, {"x", 0.5}, {"y", 0.5}}),  // the keyboard's focus
                                at(30, {{"t", "mup"}, {"b", 0}, {"x", 0.5}, {"y", 0.5}})};
    QList<int> expected;
    for (uint16_t mac = 0; mac < 128; ++mac) {
      const auto key = macKeyToLinux(mac);
      // The compositor keeps the left Super key for itself (its overview).
      if (!key || mac == 55) continue;
      messages << at(15, {{"t", "keydown"}, {"keyCode", mac}}) << at(15, {{"t", "keyup"}, {"keyCode", mac}});
      expected << key->evdev + 8;
    }
    // dy < 0: the client's wheel turned up (the view goes up the document).
    messages << at(300, {{"t", "scroll"}, {"x", 0.5}, {"y", 0.5}, {"dx", 0}, {"dy", -120}})
             << at(300, {{"t", "scroll"}, {"x", 0.5}, {"y", 0.5}, {"dx", 0}, {"dy", 120}})
             << at(300, {{"t", "mdown"}, {"b", 0}, {"x", 0.3}, {"y", 0.3}})
             << at(30, {{"t", "mup"}, {"b", 0}, {"x", 0.3}, {"y", 0.3}})
             << at(30, {{"t", "doubleclick"}, {"b", 0}, {"x", 0.3}, {"y", 0.3}})
             << at(30, {{"t", "mup"}, {"b", 0}, {"x", 0.3}, {"y", 0.3}})
             // Held when the session ends.
             << at(300, {{"t", "mdown"}, {"b", 1}, {"x", 0.6}, {"y", 0.6}})
             << at(30, {{"t", "keydown"}, {"keyCode", 0}});
    QCOMPARE(replay(messages, 10), 0);
    const QStringList lines = collect([](const QStringList& l) {
      return l.count("keyup 38") == 2 && !l.filter("release 0 2").isEmpty();
    });
    QList<int> pressed;
    for (const QString& l : lines.filter(QRegularExpression("^key "))) pressed << l.section(' ', 1).toInt();
    QStringList missing;
    for (int code : expected) {
      if (!pressed.contains(code)) missing << QString::number(code);
    }
    QVERIFY2(missing.isEmpty(), qPrintable("keys that did not arrive (XKB codes): " + missing.join(' ') + '\n' + lines.join('\n')));
    QVERIFY2(expected.size() >= 111, qPrintable(QString::number(expected.size())));
    const QStringList wheels = lines.filter(QRegularExpression("^wheel 0 "));
    QVERIFY2(wheels.size() >= 2, qPrintable(lines.join('\n')));
    QVERIFY2(wheels.first().section(' ', 2, 2).toInt() > 0, qPrintable(wheels.join('\n')));  // up
    QVERIFY2(wheels.last().section(' ', 2, 2).toInt() < 0, qPrintable(wheels.join('\n')));   // down
    QCOMPARE(lines.filter(QRegularExpression("^double 0 1$")).size(), 1);
    // The button and the key held at the end were let go by the host.
    QVERIFY2(lines.filter(QRegularExpression("^release 0 2 ")).size() == 1, qPrintable(lines.join('\n')));
    QVERIFY(lines.lastIndexOf("keyup 38") > lines.lastIndexOf("key 38"));
  }
};

QTEST_GUILESS_MAIN(WaylandHostTest)
#include "wayland_host_test.moc"
