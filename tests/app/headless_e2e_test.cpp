// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal, a headless host on Xvnc and headless clients; one host serves
// the cases in turn, a case that stops it or its server gets a new one.
//
//   (0,0) +--------------------+----------------+
//         | VNC-0 2560 x 1440  | RIGHT 1920 x   |
//         | (the test window)  | 1080           |
//         +--------------------+----------------+

#include <csignal>

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "person.h"
#include "raw_ws_client.h"
#include "image_compare.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "test_files.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;
using lunor::test::digestOf;
using lunor::test::psnr;

namespace {

constexpr char kPassword[] = "correct horse";

// xclip on `display`: sets the CLIPBOARD selection (serving it until another
// program takes it), or reads it when `data` is null.
QByteArray xclip(const QString& display, const QByteArray& data = {}, const QString& type = "UTF8_STRING") {
  QProcess xclip;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  xclip.setProcessEnvironment(env);
  xclip.start("xclip", {"-selection", "clipboard", "-t", type, data.isNull() ? "-o" : "-i"});
  if (!data.isNull()) {
    xclip.write(data);
    xclip.closeWriteChannel();
  }
  if (!xclip.waitForFinished(10000) || xclip.exitCode() != 0) return {};
  return data.isNull() ? xclip.readAllStandardOutput() : QByteArray("ok");
}

}  // namespace

class HeadlessE2eTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::VirtualDisplay> screen;
  std::unique_ptr<test::SignalServerProcess> server;
  std::unique_ptr<test::RemoteProcess> host;
  QTemporaryDir files;
  QString roomId;
  qsizetype hostFrom = 0;  // where the host's output of this case starts

  // A headless client of `room` (empty: the host's) with `password` (null:
  // none), then `arguments`.
  std::unique_ptr<test::RemoteProcess> client(const QStringList& arguments = {}, const QString& room = {},
                                              const QString& password = kPassword) {
    auto process = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    if (!process->startClient(room.isEmpty() ? roomId : room, password, arguments)) return nullptr;
    return process;
  }
  QString file(const QString& name, const QByteArray& content = {}) {
    const QString path = files.filePath(name);
    if (!content.isNull()) test::writeFile(path, content);
    return path;
  }
  // A signaling server and an unattended host on it, whose home is the
  // test's (its Downloads folder too).
  void startHost(const QStringList& serverArguments = {}) {
    host.reset();
    hostFrom = 0;
    server = std::make_unique<test::SignalServerProcess>(serverArguments);
    QVERIFY(server->isListening());
    host = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    QDir().mkpath(files.filePath("host-home"));
    QProcessEnvironment env;
    env.insert("HOME", files.filePath("host-home"));
    host->setEnvironment(env);
    QVERIFY2(host->startUnattendedHost(kPassword), qPrintable(host->output()));
    roomId = host->roomId();
  }
  // Waits until the host has said `text` in this case.
  bool hostSays(const QString& text, int timeoutMs = 20000) {
    return QTest::qWaitFor([&] { return host->output().mid(hostFrom).contains(text); }, timeoutMs);
  }
  // A host of this test's own, without unattended access; under `script`
  // it has a terminal, as when a person starts it by hand.
  std::unique_ptr<test::RemoteProcess> attendedHost(bool withTerminal) {
    auto process = std::make_unique<test::RemoteProcess>(withTerminal ? QString("script") : QString(LUNOR_REMOTE_BINARY),
                                                          server->url(), screen->name());
    const QStringList arguments =
        withTerminal ? QStringList{"-qfec", QString(LUNOR_REMOTE_BINARY) + " --headless-host", "/dev/null"}
                     : QStringList{"--headless-host"};
    if (!process->start(arguments) || process->roomId().isEmpty() || !process->waitForOutput("Room créée")) {
      return nullptr;
    }
    return process;
  }

 private Q_SLOTS:
  void initTestCase() {
    screen = std::make_unique<test::VirtualDisplay>();
    QVERIFY2(screen->isRunning(), qPrintable(screen->error()));
  }
  // The last case's host if it and its server still run, once its room is
  // open again after the last session; a new one otherwise.
  void init() {
    if (!host || host->process().state() != QProcess::Running || server->process().state() != QProcess::Running) {
      startHost();
    } else {
      QVERIFY2(QTest::qWaitFor(
                   [&] {
                     const QString output = host->output();
                     return output.lastIndexOf("Room créée") > output.lastIndexOf("Teardown");
                   },
                   60000),
               qPrintable(host->output()));
    }
    hostFrom = host->output().size();
  }
  void cleanupTestCase() {
    host.reset();
    server.reset();
    screen.reset();
  }

  // Without an X server the host comes up, ends cleanly on SIGTERM and
  // keeps its ID for the next launch.
  void aHostWithoutAnXServerKeepsItsId() {
    test::RemoteProcess bare(LUNOR_REMOTE_BINARY, server->url(), QString());
    QVERIFY(bare.start({"--headless-host"}));
    const QString id = bare.roomId();
    QVERIFY2(!id.isEmpty() && bare.waitForOutput("Room créée"), qPrintable(bare.output()));
    QCOMPARE(bare.stop(), 0);
    QVERIFY(bare.start({"--headless-host"}));
    QCOMPARE(bare.roomId(), id);
  }

  // A headless client replays input on the host's screen: a click a
  // quarter of the way into the main monitor, keys (macOS codes: h is 4, i is
  // 34) to its focused window; then the other monitor, at its own size, a
  // click there, and its picture saved.
  void aClientSeesAndDrivesBothMonitors() {
    test::TestWindow right(screen->name(), QRect(2560, 0, 1920, 1080));
    right.paintPattern();
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));  // has the keyboard
    test::Person person(screen->name());
    const QImage truth = person.grab(QRect(2560, 0, 1920, 1080));
    window.drain();
    right.drain();
    const QString replay = file("input.jsonl", QStringList{
        R"({"after":500,"t":"move","x":0.5,"y":0.5})", R"({"after":100,"t":"mdown","b":0,"x":0.25,"y":0.25})",
        R"({"after":50,"t":"mup","b":0,"x":0.25,"y":0.25})", R"({"after":100,"t":"keydown","keyCode":4})",
        R"({"t":"keyup","keyCode":4})", R"({"t":"keydown","keyCode":34})", R"({"t":"keyup","keyCode":34})",
        R"({"after":200,"switchDisplay":1})", R"({"after":2500,"t":"mdown","b":0,"x":0.25,"y":0.5})",
        R"({"after":50,"t":"mup","b":0,"x":0.25,"y":0.5})",
        R"({"after":50,"t":"move","x":1,"y":1})"}  // the pointer out of the saved picture
        .join('\n').toUtf8() + '\n');
    const QString saved = file("frame.png");
    auto c = client({"--seconds", "7", "--replay", replay, "--save-frame", saved});
    QVERIFY(c);
    auto press = window.next(ButtonPress, 20000);
    QVERIFY2(press, qPrintable(c->output()));
    QCOMPARE(QPoint(press->xbutton.x_root, press->xbutton.y_root), QPoint(640, 360));
    QCOMPARE(window.pressedKeys(2), (QStringList{"h", "i"}));
    press = right.next(ButtonPress, 20000);
    QVERIFY2(press, qPrintable(c->output()));
    QCOMPARE(QPoint(press->xbutton.x_root, press->xbutton.y_root), QPoint(2560 + 480, 540));
    QCOMPARE(c->exitCode(), 0);
    QVERIFY2(c->output().contains("videoGeometry reçu: 2560x1440 (display 0)"), qPrintable(c->output()));
    QVERIFY2(c->output().contains("videoGeometry reçu: 1920x1080 (display 1)"), qPrintable(c->output()));
    const QImage received(saved);
    QCOMPARE(received.size(), QSize(1920, 1080));
    const double quality = psnr(received.convertToFormat(QImage::Format_RGB32), truth);
    QVERIFY2(quality > 30, qPrintable(QString("PSNR %1 dB").arg(quality)));
    host.reset();  // it would share the second monitor first next time
  }

  // 200 MiB that do not compress and a small file under a hostile name,
  // from a client to the unattended host (it takes files unasked).
  void filesArriveIntactUnderSafeNames() {
    const QString big = test::randomFile(file("big.bin"), 200);
    QVERIFY(!big.isEmpty());
    const QString hostile = file("src/.bashrc", "echo hello\n");
    auto c = client({"--send-file", big, "--send-file", hostile});
    QVERIFY(c);
    const int code = c->exitCode(240000);
    // Without the client's line a second about the pictures, which would
    // fill the message.
    const QString said = c->output().split('\n').filter(QRegularExpression("^(?!frames )")).join('\n');
    QVERIFY2(code == 0, qPrintable(QString("exit %1\n%2\n--- host\n%3")
                                       .arg(code)
                                       .arg(said.right(3500), host->output().right(3500))));
    const QDir received(files.filePath("host-home/Downloads/Lunor Remote"));
    QCOMPARE(received.entryList(QDir::Files | QDir::Hidden), (QStringList{"bashrc", "big.bin"}));
    QCOMPARE(digestOf(received.filePath("big.bin")), digestOf(big));
    QVERIFY(host->output().contains("📁 Fichier reçu : " + received.filePath("big.bin")));
  }

  // The shared clipboard with the client on an X server of its own: each
  // side's real CLIPBOARD selection set and read as another program would.
  void clipboardTextAndPicturesBothWaysWithoutEcho() {
    test::VirtualDisplay clientScreen(/*twoMonitors=*/false);
    QVERIFY2(clientScreen.isRunning(), qPrintable(clientScreen.error()));
    const QString there = screen->name(), here = clientScreen.name();
    QVERIFY(!xclip(there, "déjà là").isEmpty());  // there before the session: it stays there
    test::RemoteProcess c(LUNOR_REMOTE_BINARY, server->url(), here);
    QVERIFY(c.startClient(roomId, kPassword, {"--clipboard-print"}));
    QVERIFY2(hostSays("📋 Presse-papiers partagé", 30000), qPrintable(host->output()));
    QVERIFY(!xclip(there, "copié sur l’hôte").isEmpty());
    QVERIFY2(c.waitForOutput("📋 copié sur l’hôte", 30000), qPrintable(c.output()));
    QVERIFY(!c.output().contains("déjà là"));
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(xclip(here)), QString("copié sur l’hôte"), 10000);

    QVERIFY(!xclip(here, "copié chez le client").isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(xclip(there)), QString("copié chez le client"), 10000);

    // A picture, host to client, as PNG both ends.
    QImage picture(320, 200, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    for (int x = 0; x < 320; ++x) picture.setPixel(x, x % 200, 0xffffffffu);
    QVERIFY(!xclip(there, test::pngBytes(picture), "image/png").isEmpty());
    QVERIFY2(c.waitForOutput("📋 image 320x200", 15000), qPrintable(c.output()));
    QImage received;
    QTRY_VERIFY_WITH_TIMEOUT(received.loadFromData(xclip(here, {}, "image/png"), "PNG"), 10000);
    QCOMPARE(received.convertToFormat(QImage::Format_RGB32), picture);

    // Too long for the other side: skipped there, said here.
    QVERIFY(!xclip(here, QByteArray((1 << 20) + 1, 'a')).isEmpty());
    QVERIFY(c.waitForOutput("📋 Presse-papiers non envoyé : texte trop long", 10000));

    // Nothing went back: each side sent what was copied on it, once.
    QTest::qWait(1000);
    const QString hostSaid = host->output().mid(hostFrom);
    QCOMPARE(hostSaid.count("📋 Presse-papiers envoyé"), 2);  // the text, the picture
    QCOMPARE(c.output().count("📋 Presse-papiers envoyé"), 1);
    QCOMPARE(hostSaid.count("📋 Presse-papiers reçu"), 1);
    // The picture may come after the clipboard (the control channel opens
    // as soon as the password is proved): stopped before it, the client
    // would say it never had one.
    QVERIFY(c.waitForOutput("First picture", 30000));
    QCOMPARE(c.stop(), 0);
  }

  // Nobody can answer for a host without a terminal (a service): a request
  // that needs a person is refused at once, and the client's exit code
  // says refused.
  void aHostWithoutATerminalRefusesAtOnce() {
    auto attended = attendedHost(/*withTerminal=*/false);
    QVERIFY(attended);
    QElapsedTimer clock;
    clock.start();
    auto c = client({}, attended->roomId(), {});
    QVERIFY(c);
    QCOMPARE(c->exitCode(), 3);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(c->output().contains("Ended: Connexion refusée par l'hôte"), qPrintable(c->output()));
    QVERIFY2(attended->output().contains("personne ne peut répondre ici"), qPrintable(attended->output()));
  }

  // On a terminal the question waits for its answer. A requester who gives
  // up takes the question away and nothing else: no end, no new room, and
  // the next requester is asked and let in.
  void aRequesterWhoGivesUpOnlyWithdrawsTheQuestion() {
    auto attended = attendedHost(/*withTerminal=*/true);
    QVERIFY(attended);
    const QString room = attended->roomId();
    auto first = client({}, room, {});
    QVERIFY(first);
    QVERIFY2(attended->waitForOutput("wants to connect: allow? [y/N]"), qPrintable(attended->output()));
    ::kill(static_cast<pid_t>(first->process().processId()), SIGTERM);
    QCOMPARE(first->exitCode(), 9);  // stopped before any picture: not a success
    QVERIFY2(attended->waitForOutput("(the request is no longer waiting)"), qPrintable(attended->output()));

    auto second = client({"--seconds", "1"}, room, {});
    QVERIFY(second);
    QVERIFY(QTest::qWaitFor([&] { return attended->output().count("wants to connect: allow?") == 2; }, 20000));
    attended->process().write("y\n");
    QCOMPARE(second->exitCode(), 0);
    const QString output = attended->output();
    QVERIFY2(!output.contains("endOnce(Arrêt de la session)"), qPrintable(output));
    QCOMPARE(output.count("Session ended ("), 1);  // the second client's
    QCOMPARE(output.left(output.indexOf("Session ended (")).count("Room créée"), 1);  // not made again before it
  }

  // Every wait of a client has an end, with its own exit code: a host whose
  // person never answers, and no signaling server at all.
  void clientWaitsAreBounded() {
    test::RawWsClient silentHost(server->port());
    QVERIFY(silentHost.handshake());
    silentHost.send({{"type", "create"}, {"roomId", "555555555"}, {"requiresApproval", true}});
    QVERIFY(!silentHost.take("created").isEmpty());
    auto unanswered = client({}, "555555555", {});
    QVERIFY(unanswered);
    test::RemoteProcess lonely(LUNOR_REMOTE_BINARY, QUrl("ws://127.0.0.1:9/signal"), screen->name());
    QVERIFY(lonely.start({"--headless-client", "123456789", "--seconds", "1"}));

    QCOMPARE(lonely.exitCode(90000), 7);
    QVERIFY2(lonely.output().contains("Ended: Serveur de connexion injoignable"), qPrintable(lonely.output()));
    QVERIFY(!silentHost.take("join-request").isEmpty());
    QCOMPARE(unanswered->exitCode(90000), 8);
    QVERIFY2(unanswered->output().contains("Ended: L’hôte n’a pas répondu à la demande"),
             qPrintable(unanswered->output()));
    QVERIFY(!silentHost.take("peer-left", 10000).isEmpty());  // the request is withdrawn
  }

  void endingOnEitherSideEndsBoth() {
    // The client ends.
    auto c = client({"--seconds", "2"});
    QVERIFY(c);
    QCOMPARE(c->exitCode(), 0);
    QVERIFY2(hostSays("Teardown (endOnce(Session terminée par le client))"), qPrintable(host->output()));

    // The host ends: its operator stops it.
    auto d = client();
    QVERIFY(d);
    QVERIFY(d->waitForOutput("First picture"));
    ::kill(static_cast<pid_t>(host->process().processId()), SIGTERM);
    QCOMPARE(d->exitCode(), 0);
    QVERIFY2(d->output().contains("Ended: Hôte s’est déconnecté de votre ordinateur"), qPrintable(d->output()));
    // Gone (the next case starts another), and in its own time.
    QTRY_COMPARE_WITH_TIMEOUT(host->process().state(), QProcess::NotRunning, 30000);
  }

  // The server is needed to meet, not to talk.
  void lostSignalingServerLeavesTheMediaFlowing() {
    auto c = client({"--seconds", "8"});
    QVERIFY(c);
    QVERIFY(c->waitForOutput("First picture"));
    server->process().kill();
    QVERIFY(hostSays("Statut : Serveur déconnecté"));
    const int linesAtLoss = int(c->output().count("frames "));
    QVERIFY(QTest::qWaitFor([&] { return c->output().count("frames ") >= linesAtLoss + 3; }, 10000));
    // Frames keep coming (one a second at least, the screen being still).
    const QStringList lines = c->output().split('\n').filter(QRegularExpression("^frames \\d+"));
    const int last = lines.last().section(' ', 1, 1).toInt();
    const int earlier = lines.at(lines.size() - 3).section(' ', 1, 1).toInt();
    QVERIFY2(last > earlier, qPrintable(c->output()));
    QCOMPARE(c->exitCode(), 0);
  }

  void hostGoneEndsTheClient() {
    auto c = client();
    QVERIFY(c);
    QVERIFY(c->waitForOutput("First picture"));
    QElapsedTimer clock;
    clock.start();
    host->process().kill();
    QCOMPARE(c->exitCode(10000), 6);  // connection lost
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
  }

  // Each way a client is refused or fails has its exit code: a wrong
  // password or none, a host nobody runs, output asked for that cannot be
  // written.
  void exitCodes_data() {
    QTest::addColumn<QString>("room");      // empty: the host's
    QTest::addColumn<QString>("password");  // null: none
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    QTest::newRow("wrong password") << "" << "not it" << QStringList{} << 5 << "";
    QTest::newRow("no password") << "" << QString() << QStringList{} << 5 << "";
    QTest::newRow("no such host") << "100000000" << QString() << QStringList{} << 4 << "";
    for (const QString json : {"/nonexistent/figures.json", "/dev/full"}) {
      QTest::newRow(qPrintable(json)) << "" << kPassword << QStringList{"--seconds", "1", "--json", json} << 1
                                      << "Cannot write " + json;
    }
  }
  void exitCodes() {
    QFETCH(QString, room);
    QFETCH(QString, password);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, said);
    auto c = client(arguments, room, password);
    QVERIFY(c);
    QCOMPARE(c->exitCode(), code);
    QVERIFY2(c->output().contains(said), qPrintable(c->output()));
  }
};

QTEST_GUILESS_MAIN(HeadlessE2eTest)
#include "headless_e2e_test.moc"
