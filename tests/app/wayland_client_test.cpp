// SPDX-License-Identifier: GPL-3.0-or-later
// The client window as a native Wayland client: the shipped lunor-remote on a
// headless GNOME compositor with no X server to fall back on, driven through
// the compositor's own input (its remote-desktop API, as a person's keyboard
// and mouse would), joining an unattended host on a private X server.

#include <linux/input-event-codes.h>

#include <QDBusConnection>
#include <QTemporaryDir>
#include <QtTest>

#include "headless_desktop.h"
#include "host/wayland/mutter_remote_desktop.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;

namespace {

// The keys the test types, as evdev codes on a US keyboard.
int evdevKey(QChar c) {
  static const QHash<QChar, int> keys{{'h', KEY_H}, {'i', KEY_I}};
  return keys.value(c, 0);
}

}  // namespace

class WaylandClientTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void personDrivesTheHostFromAWaylandClientWindow() {
    // One monitor smaller than the client's window, so that the window
    // covers it wherever the compositor places it.
    test::HeadlessDesktop desktop({QSize(800, 600)});
    QVERIFY2(desktop.isRunning(), qPrintable(desktop.error()));
    test::VirtualDisplay hostScreen(/*twoMonitors=*/false);
    QVERIFY2(hostScreen.isRunning(), qPrintable(hostScreen.error()));
    test::SignalServerProcess server;
    QVERIFY(server.isListening());

    test::RemoteProcess host(LUNOR_REMOTE_BINARY, server.url(), hostScreen.name());
    QVERIFY2(host.startUnattendedHost("correct horse"), qPrintable(host.output()));
    test::TestWindow target(hostScreen.name(), QRect(0, 0, 1920, 1080));
    QVERIFY(target.display);

    // No X server for the client: everything it shows and reads goes
    // through the compositor.
    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server.url(), QString());
    QProcessEnvironment wayland = desktop.sessionVariables();
    wayland.insert("QT_QPA_PLATFORM", "wayland");
    client.setEnvironment(wayland);
    QTemporaryDir files;
    QFile password(files.filePath("password"));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("correct horse\n");
    password.close();
    QVERIFY(client.start({"--connect", host.roomId(), "--password-file", password.fileName()}));
    QVERIFY2(client.waitForOutput("Track vidéo distante reçue", 30000), qPrintable(client.output()));
    QVERIFY(client.waitForOutput("DataChannel 'control' prêt (client)"));

    // The person's keyboard and mouse: the compositor's input, on its monitor.
    QDBusConnection bus = QDBusConnection::connectToBus(desktop.sessionVariables().value("DBUS_SESSION_BUS_ADDRESS"),
                                                        QStringLiteral("wayland-client-test"));
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
    QTest::qWait(500);
    const auto type = [&](const QString& text) {
      for (const QChar c : text) {
        person.keyboardKeycode(evdevKey(c), true);
        person.keyboardKeycode(evdevKey(c), false);
        QTest::qWait(30);
      }
    };

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
    type("hi");
    QCOMPARE(target.pressedKeys(2), (QStringList{"h", "i"}));

    person.stop();
    QVERIFY2(client.stop() == 0, qPrintable(client.output().right(4000)));
    QCOMPARE(host.stop(), 0);
    QDBusConnection::disconnectFromBus(QStringLiteral("wayland-client-test"));
  }
};

QTEST_GUILESS_MAIN(WaylandClientTest)
#include "wayland_client_test.moc"
