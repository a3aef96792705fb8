// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped windowed application on private X servers (or headless GNOME)
// driven as a person would, against lunor-signal and one headless host.

#include <linux/input-event-codes.h>

#include <QDBusConnection>
#include <QtTest>

#include "headless_desktop.h"
#include "host/wayland/mutter_remote_desktop.h"
#include "person.h"
#include "raw_ws_client.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;

class WindowedAppTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::VirtualDisplay> hostScreen;  // two monitors, 2560 x 1440 on the left
  std::unique_ptr<test::VirtualDisplay> clientScreen;
  std::unique_ptr<test::SignalServerProcess> server;
  std::unique_ptr<test::RemoteProcess> host;

 private Q_SLOTS:
  void initTestCase() {
    hostScreen = std::make_unique<test::VirtualDisplay>();
    QVERIFY2(hostScreen->isRunning(), qPrintable(hostScreen->error()));
    clientScreen = std::make_unique<test::VirtualDisplay>(/*twoMonitors=*/false);
    QVERIFY2(clientScreen->isRunning(), qPrintable(clientScreen->error()));
    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
    host = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), hostScreen->name());
    QVERIFY2(host->startUnattendedHost("correct horse"), qPrintable(host->output()));
  }
  void cleanupTestCase() {
    host.reset();
    server.reset();
    clientScreen.reset();
    hostScreen.reset();
  }

  // `lunor-remote --connect` in a window, the unattended headless host on
  // another X server. A test window on the host's display sees the click
  // and the typed text.
  void personDrivesTheHostFromTheClientWindow() {
    // What the host's user has on screen: a window over the main monitor.
    test::TestWindow target(hostScreen->name(), QRect(0, 0, 2560, 1440));
    QVERIFY(target.display);

    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server->url(), clientScreen->name());
    QVERIFY(client.start({"--connect", host->roomId()}));
    test::Person person(clientScreen->name());
    QVERIFY(person.ready());
    const QRect window = person.waitForWindow("Lunor Remote");
    QVERIFY2(!window.isNull(), qPrintable(client.output()));
    QVERIFY2(client.waitForOutput("Message: require-unattended"), qPrintable(client.output()));

    // The password prompt has the keyboard.
    person.moveTo(window.center());
    QTest::qWait(500);
    person.type("correct horse\n");
    QVERIFY(client.waitForOutput("Track vidéo distante reçue", 30000));
    QVERIFY(client.waitForOutput("DataChannel 'control' prêt (client)"));
    // The stage comes 2.5 s after the connection starts; its input item
    // says when it has the keyboard.
    QVERIFY(client.waitForOutput("EventCatcherView a bien le focus clavier"));

    // A click in the middle of the picture lands in the middle of the main
    // monitor (the picture spans the window's width, under the tool bar).
    target.drain();
    person.click(window.center());
    auto press = target.next(ButtonPress, 10000);
    QVERIFY2(press, qPrintable(client.output()));
    // One client pixel spans 2560 / width host pixels.
    const double expected = (window.center().x() - window.x() + 0.5) * 2560.0 / window.width();
    QVERIFY2(std::abs(press->xbutton.x_root - expected) <= 2560.0 / window.width() + 0.5,
             qPrintable(QStringLiteral("%1 against %2").arg(press->xbutton.x_root).arg(expected)));

    // Typed text reaches the focused window on the host.
    QTest::qWait(300);
    target.drain();
    person.type("hi");
    QCOMPARE(target.pressedKeys(2), (QStringList{"h", "i"}));

    QCOMPARE(client.stop(), 0);
    QVERIFY(host->waitForOutput("Teardown"));
  }

  // The client window as a native Wayland client, on a headless GNOME
  // compositor with no X server to fall back on, driven through the
  // compositor's own input (its remote-desktop API).
  void personDrivesTheHostFromAWaylandClientWindow() {
    // One monitor smaller than the client's window, so that the window
    // covers it wherever the compositor places it.
    test::HeadlessDesktop desktop({QSize(800, 600)});
    QVERIFY2(desktop.isRunning(), qPrintable(desktop.error()));
    test::TestWindow target(hostScreen->name(), QRect(0, 0, 2560, 1440));
    QVERIFY(target.display);
    QVERIFY(QTest::qWaitFor(  // its room open again after the last session
        [&] { return host->output().lastIndexOf("Room créée") > host->output().lastIndexOf("Teardown"); }, 20000));

    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server->url(), QString());
    QProcessEnvironment wayland = desktop.sessionVariables();
    wayland.insert("QT_QPA_PLATFORM", "wayland");
    client.setEnvironment(wayland);
    QVERIFY(client.start({"--connect", host->roomId(), "--password-file", client.passwordFile("correct horse")}));
    QVERIFY2(client.waitForOutput("Track vidéo distante reçue", 30000), qPrintable(client.output()));
    QVERIFY(client.waitForOutput("DataChannel 'control' prêt (client)"));

    // The person's keyboard and mouse: the compositor's input, on its monitor.
    QDBusConnection bus = QDBusConnection::connectToBus(desktop.sessionVariables().value("DBUS_SESSION_BUS_ADDRESS"),
                                                        QStringLiteral("wayland-client"));
    QVERIFY(bus.isConnected());
    MutterRemoteDesktop person(bus);
    bool started = false;
    person.start(QStringLiteral("Meta-0"), [&](auto stream, auto, const QString& error) {
      QVERIFY2(stream, qPrintable(error));
      started = true;
    });
    QVERIFY(QTest::qWaitFor([&] { return started; }, 15000));
    // The compositor makes its virtual keyboard on the first key, and a
    // client hears of it only then: that key is lost (a person's keyboard is
    // there from the start).
    person.keyboardKeycode(KEY_LEFTSHIFT, true);
    person.keyboardKeycode(KEY_LEFTSHIFT, false);
    QVERIFY(client.waitForOutput("EventCatcherView a bien le focus clavier", 30000));

    // A click on the stage reaches the host's window.
    QTest::qWait(500);
    target.drain();
    person.pointerMotion(400, 400);
    QTest::qWait(100);
    person.pointerButton(BTN_LEFT, true);
    person.pointerButton(BTN_LEFT, false);
    QVERIFY2(target.next(ButtonPress, 10000), qPrintable(client.output()));

    // Typed text reaches the focused window on the host.
    QTest::qWait(300);
    target.drain();
    for (const int key : {KEY_H, KEY_I}) {
      person.keyboardKeycode(key, true);
      person.keyboardKeycode(key, false);
      QTest::qWait(30);
    }
    QCOMPARE(target.pressedKeys(2), (QStringList{"h", "i"}));

    person.stop();
    QVERIFY2(client.stop() == 0, qPrintable(client.output().right(4000)));
    QDBusConnection::disconnectFromBus(QStringLiteral("wayland-client"));
  }

  // Two windowed instances on two X servers. One hosts (from launch); the
  // other goes to "Se connecter à un ordinateur", types the host's ID and
  // connects, all with the keyboard. The host's person accepts the join
  // request with Return, and the client's stage shows the host's screen (a
  // red window covering it). Closing the client's window ends the session
  // with "Fenêtre fermée".
  void clientJoinsThroughItsDirectoryAndSeesTheHost() {
    test::VirtualDisplay ownScreen(/*twoMonitors=*/false);
    QVERIFY2(ownScreen.isRunning(), qPrintable(ownScreen.error()));
    test::RemoteProcess attended(LUNOR_REMOTE_BINARY, server->url(), ownScreen.name());
    QVERIFY(attended.start({}));
    const QString roomId = attended.roomId();
    QVERIFY2(!roomId.isEmpty(), qPrintable(attended.output()));
    QVERIFY2(attended.waitForOutput("recv type=created"), qPrintable(attended.output()));
    // The host's person has a red window over the whole screen.
    test::TestWindow target(ownScreen.name(), QRect(0, 0, 1920, 1080));
    QVERIFY(target.display);

    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server->url(), clientScreen->name());
    QVERIFY(client.start({}));
    test::Person person(clientScreen->name());
    QVERIFY(person.ready());
    const QRect window = person.waitForWindow("Lunor Remote");
    QVERIFY2(!window.isNull(), qPrintable(client.output()));
    person.moveTo(window.center());
    QVERIFY(person.settlesOnNew(window));
    // Home: the keyboard is on "Partager mon écran"; the next is the client's way.
    const quint64 home = person.fingerprint(window);
    person.key(XK_Tab);
    person.key(XK_Return);
    QVERIFY(person.settlesOnNew(window, home));
    // The directory: the ID field has the keyboard; then the connect button.
    person.type(roomId);
    person.key(XK_Tab);
    person.key(XK_Return);

    // The host's join request, in its own panel (420 x 470), answered with Return.
    test::Person hostPerson(ownScreen.name());
    QRect panel;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   for (const auto& [id, r] : hostPerson.windows("Lunor Remote")) {
                     if (r.size() == QSize(420, 560)) panel = r;
                   }
                   return !panel.isNull();
                 },
                 20000),
             qPrintable(attended.output()));
    hostPerson.moveTo(panel.center());
    QVERIFY(hostPerson.settlesOnNew(panel));
    hostPerson.key(XK_Return);
    QVERIFY2(attended.waitForOutput("✅ Autorisé", 10000), qPrintable(attended.output()));

    // The client's stage shows the red screen, under its tool bar.
    const QRect stage(window.x(), window.y() + 62, window.width(), window.height() - 62);
    double red = 0;
    QVERIFY2(QTest::qWaitFor([&] { return (red = person.shareOf(stage, 0xFF0000)) > 0.4; }, 30000),
             qPrintable(QStringLiteral("red share %1\n").arg(red) + client.output()));

    // Closing the client's window ends the session with that reason, and the
    // application with it.
    QVERIFY(person.closeWindow("Lunor Remote"));
    QVERIFY2(attended.waitForOutput("Fenêtre fermée", 10000), qPrintable(attended.output()));
    QVERIFY(client.process().waitForFinished(10000));
    QCOMPARE(client.process().exitCode(), 0);
    QCOMPARE(attended.stop(), 0);
  }

  // With a status area the application stays there when its window is
  // closed, and this computer stays reachable; without one, closing quits
  // (above).
  void closingTheWindowKeepsTheHostInTheStatusArea() {
    test::VirtualDisplay screen(/*twoMonitors=*/false);
    QVERIFY2(screen.isRunning(), qPrintable(screen.error()));
    // A status area, as the X tray protocol has it: an owner of the tray
    // manager's selection.
    Display* display = XOpenDisplay(qPrintable(screen.name()));
    QVERIFY(display);
    const Window tray = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False), tray, CurrentTime);
    XSync(display, False);

    test::RemoteProcess app(LUNOR_REMOTE_BINARY, server->url(), screen.name());
    QVERIFY(app.start({}));
    const QString roomId = app.roomId();
    QVERIFY2(!roomId.isEmpty(), qPrintable(app.output()));
    test::Person person(screen.name());
    QVERIFY(person.ready());
    QVERIFY2(!person.waitForWindow("Lunor Remote").isNull(), qPrintable(app.output()));
    QVERIFY(app.waitForOutput("Room créée"));

    QVERIFY(person.closeWindow("Lunor Remote"));
    QVERIFY2(app.waitForOutput("reste joignable depuis la zone de notification", 10000), qPrintable(app.output()));
    QTest::qWait(1000);
    QCOMPARE(app.process().state(), QProcess::Running);
    // Still reachable: a join reaches the host's person.
    test::RawWsClient requester(server->port());
    QVERIFY(requester.handshake());
    requester.send({{"type", "join"}, {"roomId", roomId}, {"displayName", "Zoé"}});
    QVERIFY(!requester.take("waiting-approval").isEmpty());
    QVERIFY2(app.waitForOutput("Join request de Zoé", 10000), qPrintable(app.output()));
    QCOMPARE(app.stop(), 0);
    XDestroyWindow(display, tray);
    XCloseDisplay(display);
  }
};

QTEST_GUILESS_MAIN(WindowedAppTest)
#include "windowed_app_test.moc"
