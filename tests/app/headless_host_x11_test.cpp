// End to end: the shipped lunor-remote as a headless host on a private X
// server, unattended access on, and a client session in this process that
// joins with the password, receives the real screen and moves the pointer.

#include <QtTest>

#include <X11/Xlib.h>

#include "fake_environment.h"
#include "session_probe.h"
#include "session/remote_session.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "virtual_display.h"

using namespace lunor;

namespace {

using test::FrameCounter;

QPoint pointer() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return {};
  Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rx, &ry, &wx, &wy, &mask);
  XCloseDisplay(display);
  return {rx, ry};
}

}  // namespace

class HeadlessHostX11Test : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void clientSeesAndDrivesTheHostScreen() {
    test::VirtualDisplay x;
    QVERIFY2(x.isRunning(), qPrintable(x.error()));
    test::SignalServerProcess server;
    QVERIFY(server.isListening());

    test::RemoteProcess host(LUNOR_REMOTE_BINARY, server.url(), x.name());
    host.allowUnattended("correct horse");
    QVERIFY(host.start({"--headless-host"}));
    const QString roomId = host.roomId();
    QVERIFY(!roomId.isEmpty());
    QVERIFY(host.waitForOutput("unattended=true"));

    test::FakeEnvironment clientEnvironment;
    clientEnvironment.endpoint.url = server.url();
    clientEnvironment.makeRtcFactory = [] { return rtc::createWebRtcFactory(); };
    RemoteSession client(clientEnvironment);
    client.startClient(roomId);
    QTRY_VERIFY_WITH_TIMEOUT(client.askUnattendedPassword(), 10000);
    client.submitUnattendedPassword("correct horse");

    QTRY_VERIFY_WITH_TIMEOUT(client.hasRemoteVideoTrack(), 30000);
    FrameCounter counter;
    client.remoteVideoTrack()->addSink(&counter);
    QTRY_VERIFY_WITH_TIMEOUT(counter.frames.load() >= 3, 30000);
    // The main monitor at its own size, until the client picks a profile.
    QCOMPARE(counter.width.load(), 2560);
    QCOMPARE(counter.height.load(), 1440);
    QTRY_COMPARE_WITH_TIMEOUT(client.remoteVideoSize(), QSize(2560, 1440), 10000);
    QTRY_COMPARE(client.availableDisplays().size(), 2);

    QTRY_VERIFY_WITH_TIMEOUT(client.isControlChannelOpen(), 10000);
    client.sendControl(QVariantMap{{"t", "move"}, {"x", 0.5}, {"y", 0.5}, {"displayIndex", 0}});
    QTRY_COMPARE_WITH_TIMEOUT(pointer(), QPoint(1280, 720), 10000);

    // On the second monitor after a switch.
    client.requestDisplaySwitch(1);
    QTRY_COMPARE_WITH_TIMEOUT(client.remoteVideoSize(), QSize(1920, 1080), 10000);
    client.sendControl(QVariantMap{{"t", "move"}, {"x", 0.25}, {"y", 0.5}, {"displayIndex", 1}});
    QTRY_COMPARE_WITH_TIMEOUT(pointer(), QPoint(2560 + 480, 540), 10000);

    client.remoteVideoTrack()->removeSink(&counter);
    client.stop("Session terminée par le client");
    QCOMPARE(host.stop(), 0);
  }
};

QTEST_GUILESS_MAIN(HeadlessHostX11Test)
#include "headless_host_x11_test.moc"
