// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped attended host through Debian's desktop portal (GNOME backend)
// beside a headless Mutter; a person answers the portal's dialog through a
// remote-desktop session of the test's own (seeing the screen, clicking).
//
//   (0,0) +---------------------------+
//         | Meta-0 1280x720           |
//         |    +------------------+   |
//         |    | Cancel   Share   |   |  the portal's dialog
//         |    | [x] the monitor  |   |
//         |    | remote input [ ] |   |
//         |    +------------------+   |
//         +---------------------------+

#include <linux/input-event-codes.h>

#include <mutex>

#include <QDBusConnection>
#include <QImage>
#include <QtTest>

#include "headless_desktop.h"
#include "host/wayland/mutter_remote_desktop.h"
#include "host/wayland/pipewire_stream.h"
#include "host/wayland/portal_remote_desktop.h"
#include "remote_process.h"
#include "signal_server_process.h"

using namespace lunor;

namespace {

const QString kPortalDir = QStringLiteral("/usr/libexec/");
// The dialog's default button (Adwaita's accent).
constexpr QRgb kShareBlue = qRgb(0x35, 0x84, 0xe4);

}  // namespace

class PortalHostTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::HeadlessDesktop> desktop;
  std::vector<std::unique_ptr<QProcess>> portal;
  std::unique_ptr<test::SignalServerProcess> server;
  std::unique_ptr<test::RemoteProcess> host;
  std::unique_ptr<MutterRemoteDesktop> person;
  PipeWireStream eyes;  // what the person sees
  std::mutex seenMutex;
  QImage seen;

  QImage screen() {
    std::lock_guard lock(seenMutex);
    return seen.copy();
  }
  // The centre of the dialog's Share button, once the dialog shows.
  QPoint shareButton(int timeoutMs = 30000) {
    QPoint found;
    std::ignore = QTest::qWaitFor(
        [&] {
          const QImage image = screen();
          QRect box;
          for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
              const QRgb p = image.pixel(x, y);
              if (std::abs(qRed(p) - qRed(kShareBlue)) + std::abs(qGreen(p) - qGreen(kShareBlue)) +
                      std::abs(qBlue(p) - qBlue(kShareBlue)) < 40) {
                box |= QRect(x, y, 1, 1);
              }
            }
          }
          if (box.width() > 30 && box.height() > 15) found = box.center();
          return !found.isNull();
        },
        timeoutMs);
    return found;
  }
  void click(QPoint at) {
    person->pointerMotion(at.x(), at.y());
    QTest::qWait(200);
    person->pointerButton(BTN_LEFT, true);
    person->pointerButton(BTN_LEFT, false);
    QTest::qWait(300);
  }
  std::unique_ptr<test::RemoteProcess> client() {
    auto process = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), QString());
    if (!process->startClient(host->roomId(), QString(), {"--seconds", "2"})) return nullptr;
    return process;
  }

 private Q_SLOTS:
  void initTestCase() {
    if (!QFile::exists(kPortalDir + "xdg-desktop-portal") || !QFile::exists(kPortalDir + "xdg-desktop-portal-gnome")) {
      QSKIP("no desktop portal here: scripts/install-deps.sh --tests installs it");
    }
    // The portal picks its GNOME backend from the desktop's name; GTK's
    // dialog needs no accessibility bus.
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    qputenv("GTK_A11Y", "none");
    desktop = std::make_unique<test::HeadlessDesktop>(QList<QSize>{QSize(1280, 720)});
    QVERIFY2(desktop->isRunning(), qPrintable(desktop->error()));
    for (const char* program : {"xdg-desktop-portal-gnome", "xdg-desktop-portal"}) {
      portal.push_back(desktop->launch(kPortalDir + program));
      QVERIFY(portal.back());
      QTest::qWait(500);
    }
    QDBusConnection bus = QDBusConnection::connectToBus(desktop->sessionVariables().value("DBUS_SESSION_BUS_ADDRESS"),
                                                        QStringLiteral("portal-host-test"));
    QVERIFY(QTest::qWaitFor([&] { return PortalRemoteDesktop::isAvailable(bus); }, 20000));

    // The person: sees Meta-0 and has its pointer.
    person = std::make_unique<MutterRemoteDesktop>(bus);
    std::optional<RemoteDesktopSession::Stream> stream;
    person->start(QStringLiteral("Meta-0"), [&](auto s, auto, const QString& error) {
      QVERIFY2(s, qPrintable(error));
      stream = s;
    });
    QVERIFY(QTest::qWaitFor([&] { return stream.has_value(); }, 15000));
    qputenv("XDG_RUNTIME_DIR", desktop->sessionVariables().value("XDG_RUNTIME_DIR").toUtf8());  // its PipeWire
    QString why;
    QVERIFY2(eyes.start(
                 stream->node, -1, 10,
                 [this](const rtc::VideoFrameView& frame) {
                   QImage image(frame.width, frame.height, QImage::Format_RGB32);
                   for (int y = 0; y < frame.height; ++y) {
                     std::memcpy(image.scanLine(y), frame.data + size_t(y) * frame.stride, size_t(frame.width) * 4);
                   }
                   std::lock_guard lock(seenMutex);
                   seen = image;
                 },
                 [](const QString&) {}, &why),
             qPrintable(why));

    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
    // A person at the host's terminal too: the portal's first share needs one.
    host = std::make_unique<test::RemoteProcess>("script", server->url(), QString());
    QProcessEnvironment environment = desktop->sessionVariables();
    environment.insert("XDG_CURRENT_DESKTOP", "GNOME");
    host->setEnvironment(environment);
    QVERIFY(host->start({"-qfec", QString(LUNOR_REMOTE_BINARY) + " --headless-host --host-backend portal", "/dev/null"}));
    QVERIFY2(!host->roomId().isEmpty() && host->waitForOutput("Room créée"), qPrintable(host->output()));
    // A portal that cannot remember the choice is said to.
    QVERIFY(host->output().contains("ne retient pas le choix de l’écran"));
  }
  void cleanupTestCase() {
    eyes.stop();
    if (person) person->stop();
    person.reset();
    host.reset();
    server.reset();
    portal.clear();
    desktop.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("portal-host-test"));
  }

  // The person lets the screen be shared (and driven) in the dialog: the
  // client, told meanwhile why it waits, sees pictures. When it leaves,
  // nothing stays shared: the next client brings the dialog back, where a
  // cancel ends that session with its reason.
  void thePersonAnswersTheDialog() {
    auto first = client();
    QVERIFY(first);
    QVERIFY2(host->waitForOutput("wants to connect: allow? [y/N]"), qPrintable(host->output()));
    host->process().write("y\n");
    const QPoint share = shareButton();
    QVERIFY2(!share.isNull(), "the portal's dialog did not show");
    QVERIFY2(first->waitForOutput("L’hôte choisit l’écran à partager"), qPrintable(first->output()));
    click(share + QPoint(-22, 200));  // "Allow remote interaction"
    click(share);
    QCOMPARE(first->exitCode(90000), 0);
    QVERIFY2(first->output().contains("First picture"), qPrintable(first->output().right(3000)));

    QVERIFY(QTest::qWaitFor([&] { return host->output().count("Room créée") >= 2; }, 20000));
    QTest::qWait(2500);  // the host lets nobody in for a moment after a session
    auto second = client();
    QVERIFY(second);
    QVERIFY(QTest::qWaitFor([&] { return host->output().count("wants to connect: allow?") == 2; }, 30000));
    host->process().write("y\n");
    const QPoint again = shareButton();
    QVERIFY2(!again.isNull(), "shared again without asking: the last session stayed open");
    click(again - QPoint(422, 0));  // "Cancel"
    QVERIFY(second->exitCode(90000) != 0);
    QVERIFY2(second->output().contains("refusé"), qPrintable(second->output().right(3000)));
    QVERIFY(!second->output().contains("First picture"));
  }
};

QTEST_GUILESS_MAIN(PortalHostTest)
#include "portal_host_test.moc"
