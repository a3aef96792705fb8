// SPDX-License-Identifier: GPL-3.0-or-later
// End to end with three processes, as an operator runs them: lunor-signal,
// a headless host on the tests' Xvnc, and a headless client (or a client
// session of this process).
//
//   (0,0) +--------------------+----------------+
//         | VNC-0 2560 x 1440  | RIGHT 1920 x   |
//         | (the test window)  | 1080           |
//         +--------------------+----------------+

#include <csignal>
#include <cmath>

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "person.h"
#include "raw_ws_client.h"
#include "image_compare.h"
#include "remote_process.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "session_probe.h"
#include "signal_server_process.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;
using lunor::test::psnr;

namespace {

constexpr char kPassword[] = "correct horse";

}  // namespace

class HeadlessE2eTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::VirtualDisplay> screen;
  std::unique_ptr<test::SignalServerProcess> server;
  std::unique_ptr<test::RemoteProcess> host;
  QTemporaryDir files;
  QString roomId;

  // A client run with these arguments (--headless-client and the host's ID first).
  std::unique_ptr<test::RemoteProcess> client(const QStringList& arguments, const QString& room = {}) {
    auto process = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    if (!process->start(QStringList{"--headless-client", room.isEmpty() ? roomId : room} + arguments)) return nullptr;
    return process;
  }
  QString file(const QString& name, const QByteArray& content = {}) {
    const QString path = files.filePath(name);
    if (!content.isNull()) {
      QFile f(path);
      f.open(QIODevice::WriteOnly);
      f.write(content);
    }
    return path;
  }
  QString passwordFile() { return file("password", QByteArray(kPassword) + "\n"); }
  // Waits with the event loop running (test peers answer their pings meanwhile).
  static int exitCode(test::RemoteProcess& process, int timeoutMs = 30000) {
    if (!QTest::qWaitFor([&] { return process.process().state() == QProcess::NotRunning; }, timeoutMs)) return -1;
    return process.process().exitCode();
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
  void init() {
    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
    host = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    QVERIFY2(host->startUnattendedHost(kPassword), qPrintable(host->output()));
    roomId = host->roomId();
  }
  void cleanup() {
    host.reset();
    server.reset();
  }
  void cleanupTestCase() { screen.reset(); }

  void savedPictureIsTheHostsScreen() {
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));
    window.paintPattern();
    test::Person person(screen->name());
    person.moveTo({4000, 1000});  // the pointer out of the picture
    const QString saved = file("frame.png");
    auto c = client({"--password-file", passwordFile(), "--seconds", "3", "--save-frame", saved});
    QVERIFY(c);
    QCOMPARE(exitCode(*c), 0);
    const QImage received(saved);
    QVERIFY2(!received.isNull(), qPrintable(c->output()));
    const QImage truth = person.grab(QRect(0, 0, 2560, 1440))
                             .scaled(received.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double quality = psnr(received.convertToFormat(QImage::Format_RGB32), truth);
    QVERIFY2(quality > 30, qPrintable(QString("PSNR %1 dB").arg(quality)));
  }

  void replayedInputReachesTheHost() {
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));
    window.drain();
    // h is the macOS key code 4, i is 34.
    const QString replay = file("input.jsonl",
                                R"({"after":500,"t":"move","x":0.5,"y":0.5})"
                                "\n"
                                R"({"after":100,"t":"mdown","b":0,"x":0.25,"y":0.25})"
                                "\n"
                                R"({"after":50,"t":"mup","b":0,"x":0.25,"y":0.25})"
                                "\n"
                                R"({"after":100,"t":"keydown","keyCode":4})"
                                "\n"
                                R"({"t":"keyup","keyCode":4})"
                                "\n"
                                R"({"t":"keydown","keyCode":34})"
                                "\n"
                                R"({"t":"keyup","keyCode":34})"
                                "\n");
    auto c = client({"--password-file", passwordFile(), "--seconds", "4", "--replay", replay});
    QVERIFY(c);
    auto press = window.next(ButtonPress, 20000);
    QVERIFY2(press, qPrintable(c->output()));
    QCOMPARE(QPoint(press->xbutton.x_root, press->xbutton.y_root), QPoint(640, 360));
    QCOMPARE(window.pressedKeys(2), (QStringList{"h", "i"}));
    QCOMPARE(exitCode(*c), 0);
  }

  // A client session of this process, on the real WebRTC, gets the real
  // screen and moves the real pointer, on either monitor.
  void clientSessionSeesAndDrivesTheHostScreen() {
    test::SessionSide client(server->url(), [] { return rtc::createWebRtcFactory(); });
    RemoteSession& c = *client.session;
    c.startClient(roomId);
    QTRY_VERIFY_WITH_TIMEOUT(c.askUnattendedPassword(), 10000);
    c.submitUnattendedPassword(kPassword);
    QTRY_VERIFY_WITH_TIMEOUT(c.hasRemoteVideoTrack(), 30000);
    test::FrameCounter counter(c.remoteVideoTrack());
    QVERIFY(counter.waitForMore(3));
    // The main monitor at its own size, until the client picks a profile.
    QCOMPARE(counter.size(), QSize(2560, 1440));
    QTRY_COMPARE_WITH_TIMEOUT(c.remoteVideoSize(), QSize(2560, 1440), 10000);
    QTRY_COMPARE(c.availableDisplays().size(), 2);

    test::Person person(screen->name());
    QTRY_VERIFY_WITH_TIMEOUT(c.isControlChannelOpen(), 10000);
    c.sendControl(QVariantMap{{"t", "move"}, {"x", 0.5}, {"y", 0.5}, {"displayIndex", 0}});
    QTRY_COMPARE_WITH_TIMEOUT(person.pointer(), QPoint(1280, 720), 10000);
    c.requestDisplaySwitch(1);
    QTRY_COMPARE_WITH_TIMEOUT(c.remoteVideoSize(), QSize(1920, 1080), 10000);
    c.sendControl(QVariantMap{{"t", "move"}, {"x", 0.25}, {"y", 0.5}, {"displayIndex", 1}});
    QTRY_COMPARE_WITH_TIMEOUT(person.pointer(), QPoint(2560 + 480, 540), 10000);
    c.stop("Session terminée par le client");
    QVERIFY(host->waitForOutput("Teardown"));
  }

  void endingOnEitherSideEndsBoth() {
    // The client ends.
    auto c = client({"--password-file", passwordFile(), "--seconds", "2"});
    QVERIFY(c);
    QCOMPARE(exitCode(*c), 0);
    QVERIFY2(host->waitForOutput("Teardown (endOnce(Session terminée par le client))"), qPrintable(host->output()));

    // The host ends: its operator stops it.
    auto d = client({"--password-file", passwordFile()});
    QVERIFY(d);
    QVERIFY(d->waitForOutput("First picture"));
    ::kill(static_cast<pid_t>(host->process().processId()), SIGTERM);
    QCOMPARE(exitCode(*d), 0);
    QVERIFY2(d->output().contains("Ended: Hôte s’est déconnecté de votre ordinateur"), qPrintable(d->output()));
  }

  // The server is needed to meet, not to talk.
  void lostSignalingServerLeavesTheMediaFlowing() {
    auto c = client({"--password-file", passwordFile(), "--seconds", "8"});
    QVERIFY(c);
    QVERIFY(c->waitForOutput("First picture"));
    server->process().kill();
    QVERIFY(host->waitForOutput("Statut : Serveur déconnecté"));
    const int linesAtLoss = int(c->output().count("frames "));
    QVERIFY(QTest::qWaitFor([&] { return c->output().count("frames ") >= linesAtLoss + 3; }, 10000));
    // Frames keep coming (one a second at least, the screen being still).
    const QStringList lines = c->output().split('\n').filter(QRegularExpression("^frames \\d+"));
    const int last = lines.last().section(' ', 1, 1).toInt();
    const int earlier = lines.at(lines.size() - 3).section(' ', 1, 1).toInt();
    QVERIFY2(last > earlier, qPrintable(c->output()));
    QCOMPARE(exitCode(*c), 0);
  }

  void hostGoneEndsTheClient() {
    auto c = client({"--password-file", passwordFile()});
    QVERIFY(c);
    QVERIFY(c->waitForOutput("First picture"));
    QElapsedTimer clock;
    clock.start();
    host->process().kill();
    QCOMPARE(exitCode(*c, 10000), 6);  // connection lost
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
  }

  // Nobody can answer for a host without a terminal (a service): a request
  // that needs a person is refused at once, and the client's exit code
  // says refused.
  void aHostWithoutATerminalRefusesAtOnce() {
    auto attended = attendedHost(/*withTerminal=*/false);
    QVERIFY(attended);
    QElapsedTimer clock;
    clock.start();
    auto c = client({}, attended->roomId());
    QVERIFY(c);
    QCOMPARE(exitCode(*c), 3);
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
    auto first = client({}, room);
    QVERIFY(first);
    QVERIFY2(attended->waitForOutput("wants to connect: allow? [y/N]"), qPrintable(attended->output()));
    ::kill(static_cast<pid_t>(first->process().processId()), SIGTERM);
    QCOMPARE(exitCode(*first), 9);  // stopped before any picture: not a success
    QVERIFY2(attended->waitForOutput("(the request is no longer waiting)"), qPrintable(attended->output()));

    auto second = client({"--seconds", "1"}, room);
    QVERIFY(second);
    QVERIFY(QTest::qWaitFor([&] { return attended->output().count("wants to connect: allow?") == 2; }, 20000));
    attended->process().write("y\n");
    QCOMPARE(exitCode(*second), 0);
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
    auto unanswered = client({}, "555555555");
    QVERIFY(unanswered);
    test::RemoteProcess lonely(LUNOR_REMOTE_BINARY, QUrl("ws://127.0.0.1:9/signal"), screen->name());
    QVERIFY(lonely.start({"--headless-client", "123456789", "--seconds", "1"}));

    QCOMPARE(exitCode(lonely, 90000), 7);
    QVERIFY2(lonely.output().contains("Ended: Serveur de connexion injoignable"), qPrintable(lonely.output()));
    QVERIFY(!silentHost.take("join-request").isEmpty());
    QCOMPARE(exitCode(*unanswered, 90000), 8);
    QVERIFY2(unanswered->output().contains("Ended: L’hôte n’a pas répondu à la demande"),
             qPrintable(unanswered->output()));
    QVERIFY(!silentHost.take("peer-left", 10000).isEmpty());  // the request is withdrawn
  }

  // Guessing from many addresses can lock a room's unattended access for
  // the day, but not for the machines it let in before.
  void knownClientsGetPastARoomLockedByGuessing() {
    host.reset();
    server = std::make_unique<test::SignalServerProcess>(QStringList{"--max-failures-per-room-per-day", "6"});
    QVERIFY(server->isListening());
    host = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    QVERIFY(host->startUnattendedHost(kPassword));
    roomId = host->roomId();

    test::RemoteProcess known(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    const QStringList join{"--headless-client", roomId, "--password-file", passwordFile(), "--seconds", "1"};
    QVERIFY(known.start(join));
    QCOMPARE(exitCode(known), 0);
    QVERIFY(QTest::qWaitFor([&] { return host->output().count("Room créée") == 2; }, 10000));  // open again

    // Six wrong digests from three addresses, each within its own allowance.
    for (int i = 0; i < 6; ++i) {
      test::RawWsClient guesser(server->port(), QString("127.0.0.%1").arg(2 + i / 2));
      QVERIFY(guesser.handshake());
      guesser.send({{"type", "join"}, {"roomId", roomId}, {"displayName", "x"}, {"passwordHash", QString(64, '0')}});
      QVERIFY(!guesser.take("unattended-denied").isEmpty());
    }
    auto stranger = client({"--password-file", passwordFile()});
    QVERIFY(stranger);
    QCOMPARE(exitCode(*stranger), 5);  // the right password, but the room is locked
    QVERIFY2(host->waitForOutput("Accès non surveillé bloqué"), qPrintable(host->output()));
    QVERIFY(known.start(join));
    QCOMPARE(exitCode(known), 0);
  }

  // Output that was asked for and could not be written is a failure.
  void unwritableOutputFails_data() {
    QTest::addColumn<QString>("json");
    QTest::newRow("no such folder") << "/nonexistent/figures.json";
    QTest::newRow("full disk") << "/dev/full";
  }
  void unwritableOutputFails() {
    QFETCH(QString, json);
    auto c = client({"--password-file", passwordFile(), "--seconds", "1", "--json", json});
    QVERIFY(c);
    QCOMPARE(exitCode(*c), 1);
    QVERIFY2(c->output().contains("Cannot write " + json), qPrintable(c->output()));
  }

  void refusalsHaveTheirExitCodes() {
    auto wrong = client({"--password-file", file("wrong", "not it\n")});
    QVERIFY(wrong);
    QCOMPARE(exitCode(*wrong), 5);
    auto none = client({});
    QVERIFY(none);
    QCOMPARE(exitCode(*none), 5);
    auto unknown = client({}, "100000000");
    QVERIFY(unknown);
    QCOMPARE(exitCode(*unknown), 4);
  }
};

QTEST_GUILESS_MAIN(HeadlessE2eTest)
#include "headless_e2e_test.moc"
