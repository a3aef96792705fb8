// End to end, as a person uses it: `lunor-remote --connect` in a window on
// one X server, a headless host of another, both the shipped binary. The
// client's keyboard and mouse are driven with XTEST on the client's display;
// a test window on the host's display sees the click and the typed text.

#include <QtTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "person.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;


class ClientWindowTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void personDrivesTheHostFromTheClientWindow() {
    test::VirtualDisplay hostScreen;  // two monitors, 2560 x 1440 on the left
    QVERIFY2(hostScreen.isRunning(), qPrintable(hostScreen.error()));
    test::VirtualDisplay clientScreen(/*twoMonitors=*/false);
    QVERIFY2(clientScreen.isRunning(), qPrintable(clientScreen.error()));
    test::SignalServerProcess server;
    QVERIFY(server.isListening());

    test::RemoteProcess host(LUNOR_REMOTE_BINARY, server.url(), hostScreen.name());
    host.allowUnattended("correct horse");
    QVERIFY(host.start({"--headless-host"}));
    const QString roomId = host.roomId();
    QVERIFY(!roomId.isEmpty());
    QVERIFY(host.waitForOutput("unattended=true"));
    // What the host's user has on screen: a window over the main monitor.
    test::TestWindow target(hostScreen.name(), QRect(0, 0, 2560, 1440));
    QVERIFY(target.display);

    test::RemoteProcess client(LUNOR_REMOTE_BINARY, server.url(), clientScreen.name());
    QVERIFY(client.start({"--connect", roomId}));
    test::Person person(clientScreen.name());
    QVERIFY(person.ready());
    QRect window;
    QVERIFY2(QTest::qWaitFor([&] { return !(window = person.window("Lunor Remote")).isNull(); }, 20000),
             qPrintable(client.output()));
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
    QStringList typed;
    for (int i = 0; i < 2; ++i) {
      auto key = target.next(KeyPress, 10000);
      QVERIFY(key);
      typed << QString::fromLatin1(XKeysymToString(XLookupKeysym(&key->xkey, 0)));
    }
    QCOMPARE(typed, (QStringList{"h", "i"}));

    QCOMPARE(client.stop(), 0);
    QVERIFY(host.waitForOutput("Teardown"));
    QCOMPARE(host.stop(), 0);
  }
};

QTEST_GUILESS_MAIN(ClientWindowTest)
#include "client_window_test.moc"
