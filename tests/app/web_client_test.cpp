// SPDX-License-Identifier: GPL-3.0-or-later
// The web client served by lunor-signal, in headless Chromium, against a
// headless host on the tests' Xvnc: what a person does in the page reaches
// the host as it would from the application.
//
//   (0,0) +--------------------+----------------+
//         | VNC-0 2560 x 1440  | RIGHT 1920 x   |
//         | (the test window)  | 1080           |
//         +--------------------+----------------+

#include <csignal>

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include "headless_chromium.h"
#include "image_compare.h"
#include "person.h"
#include "remote_process.h"
#include "signal_server_process.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;
using lunor::test::HeadlessChromium;

namespace {

constexpr char kPassword[] = "correct horse";

QString quoted(const QString& text) { return HeadlessChromium::literal(text); }

}  // namespace

class WebClientTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::VirtualDisplay> screen;
  std::unique_ptr<test::SignalServerProcess> server;
  std::unique_ptr<test::RemoteProcess> host;
  std::unique_ptr<HeadlessChromium> browser;
  QString roomId;

  std::optional<QJsonValue> evaluate(const QString& expression) { return browser->evaluate(expression); }
  bool waitFor(const QString& expression, int timeoutMs = 20000) {
    return QTest::qWaitFor([&] { return evaluate(expression).value_or(QJsonValue()).toBool(); }, timeoutMs);
  }
  // The page point at fractions (fx, fy) of an element's box.
  QPointF pointIn(const QString& selector, double fx = 0.5, double fy = 0.5) {
    const auto box = evaluate(QStringLiteral("(() => { const r = document.querySelector(%1).getBoundingClientRect();"
                                             " return [r.left, r.top, r.width, r.height]; })()")
                                  .arg(quoted(selector)));
    if (!box || !box->isArray()) return {-1, -1};
    const QJsonArray r = box->toArray();
    return {r[0].toDouble() + fx * r[2].toDouble(), r[1].toDouble() + fy * r[3].toDouble()};
  }
  void mouse(const QString& type, QPointF p, const QString& button = "none", int clickCount = 0) {
    browser->call("Input.dispatchMouseEvent",
                  {{"type", type}, {"x", p.x()}, {"y", p.y()}, {"button", button}, {"clickCount", clickCount},
                   {"buttons", type == "mousePressed" ? (button == "right" ? 2 : 1) : 0}},
                  true);
  }
  void click(QPointF p, const QString& button = "left", int clickCount = 1) {
    mouse("mouseMoved", p);
    mouse("mousePressed", p, button, clickCount);
    mouse("mouseReleased", p, button, clickCount);
  }
  void clickOn(const QString& selector) { click(pointIn(selector)); }
  // The menu entry reading `entry` of the tool bar's `menu`.
  bool choose(const QString& button, const QString& entry) {
    clickOn("#" + button);
    const QString item = QStringLiteral("[...document.querySelectorAll('.menu:not([hidden]) .menu-item')]"
                                        ".find(e => e.textContent === %1)")
                             .arg(quoted(entry));
    if (!waitFor(item + " !== undefined", 10000)) return false;
    evaluate(item + ".setAttribute('data-chosen', '1')");
    clickOn("[data-chosen]");
    return true;
  }
  void typeInto(const QString& id, const QString& value) {
    evaluate(QStringLiteral("document.getElementById(%1).focus()").arg(quoted(id)));
    browser->call("Input.insertText", {{"text", value}}, true);
  }
  void key(const QString& type, const QString& code, const QString& key, int windowsCode) {
    browser->call("Input.dispatchKeyEvent",
                  {{"type", type}, {"code", code}, {"key", key}, {"windowsVirtualKeyCode", windowsCode}}, true);
  }
  void press(const QString& code, const QString& key, int windowsCode) {
    this->key("rawKeyDown", code, key, windowsCode);
    this->key("keyUp", code, key, windowsCode);
  }
  // The page on a touch screen `size` CSS pixels big, as a phone or a tablet shows it.
  void touchScreen(QSize size) {
    browser->call("Emulation.setDeviceMetricsOverride",
                  {{"width", size.width()}, {"height", size.height()}, {"deviceScaleFactor", 2}, {"mobile", true}},
                  true);
    browser->call("Emulation.setTouchEmulationEnabled", {{"enabled", true}, {"maxTouchPoints", 5}}, true);
  }
  // Fingers on the page, one a stroke, all going from their stroke's start
  // to its end in `steps` moves (after `holdMs` still), then lifting.
  void fingers(const QList<QLineF>& strokes, int steps = 6, int holdMs = 0) {
    auto points = [&](double t) {
      QJsonArray points;
      for (qsizetype i = 0; i < strokes.size(); ++i) {
        const QPointF p = strokes[i].pointAt(t);
        points.append(QJsonObject{{"x", p.x()}, {"y", p.y()}, {"id", int(i)}});
      }
      return points;
    };
    browser->call("Input.dispatchTouchEvent", {{"type", "touchStart"}, {"touchPoints", points(0)}}, true);
    if (holdMs) QTest::qWait(holdMs);
    for (int i = 1; i <= steps; ++i) {
      browser->call("Input.dispatchTouchEvent", {{"type", "touchMove"}, {"touchPoints", points(double(i) / steps)}},
                    true);
    }
    browser->call("Input.dispatchTouchEvent", {{"type", "touchEnd"}, {"touchPoints", QJsonArray()}}, true);
  }
  void tap(QPointF p) { fingers({QLineF(p, p)}, 0); }
  void tapOn(const QString& selector) { tap(pointIn(selector)); }
  // The host pixel of the 2560 x 1440 monitor shown under a page point.
  QPointF hostPixel(QPointF p) {
    const QPointF a = pointIn("#picture", 0, 0), b = pointIn("#picture", 1, 1);
    return {(p.x() - a.x()) / (b.x() - a.x()) * 2560, (p.y() - a.y()) / (b.y() - a.y()) * 1440};
  }
  // The touch pad's cursor, as a host pixel: its tip is a pixel in from its box.
  QPointF cursorPixel() { return hostPixel(pointIn("#touch-cursor", 0, 0) + QPointF(1, 1)); }
  // The next press (or release) of a button other than the wheel's.
  static std::optional<XEvent> nextButton(test::TestWindow& window, int type = ButtonPress) {
    for (auto event = window.next(type, 10000); event; event = window.next(type, 10000)) {
      if (event->xbutton.button < 4 || event->xbutton.button > 7) return event;
    }
    return std::nullopt;
  }
  // Empty when `event` is of `button` within `tolerance` host pixels of `at`; what it was otherwise.
  static QString missed(const std::optional<XEvent>& event, unsigned button, QPointF at, double tolerance) {
    const QString expected = QStringLiteral("button %1 at %2,%3").arg(button).arg(at.x()).arg(at.y());
    if (!event) return "nothing, " + expected + " expected";
    const QPointF got(event->xbutton.x_root, event->xbutton.y_root);
    if (event->xbutton.button == button && QLineF(got, at).length() <= tolerance) return {};
    return QStringLiteral("button %1 at %2,%3, ").arg(event->xbutton.button).arg(got.x()).arg(got.y()) + expected +
           " expected";
  }
  // Joins the host from the directory with `password` (none: no prompt expected).
  bool join(const QString& id, const QString& password) {
    typeInto("session-id", id);
    if (!waitFor("!document.getElementById('connect').disabled")) return false;
    clickOn("#connect");
    if (password.isNull()) return true;
    if (!waitFor("document.getElementById('password-dialog').open", 30000)) return false;
    typeInto("password", password);
    clickOn("#password-ok");
    return true;
  }
  bool picturesArrive() {
    return waitFor("(() => { const v = document.getElementById('video');"
                   " return v.videoWidth > 0 && v.currentTime > 0.5; })()",
                   45000);
  }
  QSize videoSize() {
    const auto size = evaluate("[document.getElementById('video').videoWidth,"
                               " document.getElementById('video').videoHeight]");
    if (!size || !size->isArray()) return {};
    return {size->toArray()[0].toInt(), size->toArray()[1].toInt()};
  }
  QImage frame() {
    const auto url = evaluate(
        "(() => { const v = document.getElementById('video'); const c = document.createElement('canvas');"
        " c.width = v.videoWidth; c.height = v.videoHeight; c.getContext('2d').drawImage(v, 0, 0);"
        " return c.toDataURL('image/png'); })()");
    if (!url) return {};
    const QByteArray data = url->toString().section(',', 1).toLatin1();
    return QImage::fromData(QByteArray::fromBase64(data), "PNG");
  }
  // With LUNOR_WEB_SCREENSHOTS naming a folder, the page as it looks now
  // (scripts/screenshots.sh takes them).
  void snapshot(const QString& name) {
    const QString folder = qEnvironmentVariable("LUNOR_WEB_SCREENSHOTS");
    if (folder.isEmpty()) return;
    const auto shot = browser->call("Page.captureScreenshot", {{"format", "png"}}, true);
    QFile file(QDir(folder).filePath("web-" + name + ".png"));
    if (shot && file.open(QIODevice::WriteOnly)) file.write(QByteArray::fromBase64(shot->value("data").toString().toLatin1()));
  }
  QString pageLog() {
    return evaluate("import('/session.js').then(m => m.logLines.join('\\n'))").value_or(QJsonValue()).toString();
  }
  // The end of a session that was under way: why, and how long it lasted.
  bool endShown(const QString& reason) {
    return waitFor(QStringLiteral("document.getElementById('end-dialog').open &&"
                                  " document.getElementById('end-title').textContent === 'Session terminée' &&"
                                  " document.getElementById('end-message').textContent.startsWith(%1)")
                       .arg(quoted(reason + "\nDurée : ")),
                   30000);
  }
  // A session that never began: why, and nothing of a session's end.
  bool failureShown(const QString& reason) {
    return waitFor(QStringLiteral("document.getElementById('end-dialog').open &&"
                                  " document.getElementById('end-title').textContent === 'Connexion impossible' &&"
                                  " document.getElementById('end-message').textContent === %1 &&"
                                  " document.getElementById('end-ok').textContent === 'OK'")
                       .arg(quoted(reason)),
                   30000);
  }
  void closeEnd() {
    clickOn("#end-ok");
    QVERIFY(waitFor("!document.getElementById('directory').hidden"));
  }
  // The waiting page shows the code the host's terminal showed last with the
  // request (its `requests`th): the same six digits on both sides.
  bool sameCodeAsTheHosts(test::RemoteProcess& attended, int requests) {
    const QString said = QStringLiteral("Verification code: ");
    if (!QTest::qWaitFor([&] { return attended.output().count(said) == requests; }, 20000)) return false;
    const QString output = attended.output();
    const QString code = output.mid(output.lastIndexOf(said) + said.size(), 7);
    if (!QRegularExpression(QStringLiteral("^\\d{3} \\d{3}$")).match(code).hasMatch()) return false;
    return waitFor(QStringLiteral("!document.getElementById('waiting').hidden &&"
                                  " !document.getElementById('verification').hidden &&"
                                  " document.getElementById('verification-code').textContent === %1")
                       .arg(quoted(code)));
  }

 private Q_SLOTS:
  void initTestCase() {
    if (!HeadlessChromium::installed()) QSKIP("no chromium here: scripts/install-deps.sh installs it");
    screen = std::make_unique<test::VirtualDisplay>();
    QVERIFY2(screen->isRunning(), qPrintable(screen->error()));
    server = std::make_unique<test::SignalServerProcess>(QStringList{"--web-root", QStringLiteral(LUNOR_WEB_DIR)});
    QVERIFY(server->isListening());
    host = std::make_unique<test::RemoteProcess>(LUNOR_REMOTE_BINARY, server->url(), screen->name());
    QVERIFY2(host->startUnattendedHost(kPassword), qPrintable(host->output()));
    roomId = host->roomId();
    browser = std::make_unique<HeadlessChromium>();
  }
  // Every case starts from the directory, in a new tab (the browser's
  // storage stays).
  void init() {
    if (browser) QVERIFY2(browser->open(server->url("http").resolved(QUrl("/"))), qPrintable(browser->error()));
  }
  void cleanupTestCase() {
    browser.reset();
    host.reset();
    server.reset();
    screen.reset();
  }

  void personJoinsSeesAndDrivesTheHost() {
    test::TestWindow right(screen->name(), QRect(2560, 0, 1920, 1080));
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));  // has the keyboard
    window.paintPattern();
    test::Person person(screen->name());
    person.moveTo({4000, 1000});  // the pointer out of the picture

    typeInto("first-name", "Alice");
    typeInto("last-name", "Martin");
    typeInto("session-id", roomId);
    snapshot("directory");
    evaluate("document.getElementById('session-id').value = ''");
    QVERIFY(join(roomId, kPassword));
    QVERIFY2(picturesArrive(), qPrintable(host->output()));
    QVERIFY(host->waitForOutput("Peer connecté"));

    // The host's main monitor at its own size, as it is on the screen.
    QCOMPARE(videoSize(), QSize(2560, 1440));
    // The encoder sharpens a still picture over its first seconds.
    const QImage truth = person.grab(QRect(0, 0, 2560, 1440));
    double quality = 0;
    std::ignore = QTest::qWaitFor([&] {
      const QImage received = frame();
      quality = received.isNull() ? 0 : lunor::test::psnr(received.convertToFormat(QImage::Format_RGB32), truth);
      return quality > 30;
    }, 15000);
    QVERIFY2(quality > 30, qPrintable(QString("PSNR %1 dB").arg(quality)));

    // A click a quarter of the way into the picture lands a quarter of the
    // way into the host's monitor.
    QVERIFY(waitFor("document.getElementById('state-label').textContent === 'connecté ✓'"));
    snapshot("stage");
    window.drain();
    click(pointIn("#picture", 0.25, 0.25));
    auto pressed = window.next(ButtonPress, 20000);
    QVERIFY(pressed);
    QCOMPARE(pressed->xbutton.button, 1u);
    QVERIFY2((QPoint(pressed->xbutton.x_root, pressed->xbutton.y_root) - QPoint(640, 360)).manhattanLength() <= 4,
             qPrintable(QString("%1,%2").arg(pressed->xbutton.x_root).arg(pressed->xbutton.y_root)));

    // Keys by their physical place; the click gave the stage the keyboard.
    window.drain();
    press("KeyH", "h", 72);
    press("KeyI", "i", 73);
    QCOMPARE(window.pressedKeys(2), (QStringList{"h", "i"}));
    // A key still down when the page loses the keyboard is let go on the host.
    window.drain();
    key("rawKeyDown", "KeyJ", "j", 74);
    QVERIFY(window.next(KeyPress, 10000));
    evaluate("document.getElementById('area').blur()");
    auto released = window.next(KeyRelease, 10000);
    QVERIFY(released);
    QCOMPARE(QString::fromLatin1(XKeysymToString(XLookupKeysym(&released->xkey, 0))), QStringLiteral("j"));

    // The other monitor: its picture, then a right click on it.
    QVERIFY(choose("display-button", "Écran 2 (1920x1080)"));
    QTRY_COMPARE_WITH_TIMEOUT(videoSize(), QSize(1920, 1080), 20000);
    right.drain();
    click(pointIn("#picture", 0.25, 0.5), "right");
    pressed = right.next(ButtonPress, 20000);
    QVERIFY(pressed);
    QCOMPARE(pressed->xbutton.button, 3u);
    QVERIFY2((QPoint(pressed->xbutton.x_root, pressed->xbutton.y_root) - QPoint(2560 + 480, 540)).manhattanLength() <=
                 4,
             qPrintable(QString("%1,%2").arg(pressed->xbutton.x_root).arg(pressed->xbutton.y_root)));

    // A lower quality scales the stream down; 1:1 shows the monitor at its size.
    QVERIFY(choose("quality-button", "Basse — 720p / 15 fps"));
    QTRY_COMPARE_WITH_TIMEOUT(videoSize(), QSize(1280, 720), 20000);
    QVERIFY(host->waitForOutput("Qualité = low"));
    clickOn("#quality-button");
    snapshot("quality-menu");
    clickOn("#quality-button");
    QVERIFY(choose("mode-button", "1:1"));
    QVERIFY(waitFor("(() => { const r = document.getElementById('picture').getBoundingClientRect();"
                    " return r.width === 1920 && r.height === 1080; })()"));

    // The person leaves: the host hears who, the page says it ended.
    clickOn("#leave");
    QVERIFY2(host->waitForOutput("Teardown (endOnce(Alice Martin s’est déconnecté de votre ordinateur))"),
             qPrintable(host->output()));
    QVERIFY(endShown("Vous avez quitté la session"));
    snapshot("end");
    closeEnd();
    // The host is among the recent connections.
    QCOMPARE(evaluate("[...document.querySelectorAll('#recents .recent')].map(e => e.dataset.id)")
                 .value_or(QJsonValue())
                 .toArray(),
             (QJsonArray{roomId}));
  }

  // A phone's fingers: the touch pad's cursor, then direct touch; on a phone
  // and a tablet, a pinch zooms around the fingers and a tap on a target a
  // few host pixels wide lands on it.
  void touchDrivesTheHost() {
    QTest::qWait(2500);  // the host's pause between sessions
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));
    window.paintPattern();
    test::TestWindow target(screen->name(), QRect(1400, 760, 12, 12));
    const QPointF targetAt(1406, 766);
    evaluate("localStorage.removeItem('lunor.touchMode')");
    QVERIFY(join(roomId, kPassword));
    QVERIFY2(picturesArrive(), qPrintable(host->output()));
    // The host keeps the monitor an earlier session chose: the test window's, please.
    const QString shown = "document.querySelector('#display-menu [aria-checked=true]')";
    QVERIFY(waitFor(shown + " !== null"));
    if (!evaluate(shown + ".textContent.startsWith('Écran 1')").value_or(QJsonValue()).toBool()) {
      QVERIFY(choose("display-button", "Écran 1 (2560x1440)"));
      QVERIFY(waitFor(shown + ".textContent.startsWith('Écran 1')"));
    }
    touchScreen({390, 844});
    QVERIFY(waitFor("!document.getElementById('touch-mode').hidden && !document.getElementById('keyboard-button').hidden"));
    const QString mode = "document.getElementById('touch-mode').dataset.mode";
    if (evaluate(mode).value_or(QJsonValue()).toString() != "pad") tapOn("#touch-mode");
    QVERIFY(waitFor(mode + " === 'pad' && !document.getElementById('touch-cursor').hidden"));

    // Touch pad: the finger, below the picture, moves the cursor its way,
    // faster than itself; a tap clicks where the cursor is.
    window.drain();
    const QPointF before = pointIn("#touch-cursor", 0, 0);
    fingers({QLineF(100, 600, 160, 560)});
    const QPointF moved = pointIn("#touch-cursor", 0, 0) - before;
    QVERIFY2(moved.x() >= 60 && moved.y() <= -40, qPrintable(QString("%1,%2").arg(moved.x()).arg(moved.y())));
    QPointF cursor = cursorPixel();
    tap({200, 700});
    QString miss = missed(nextButton(window), 1, cursor, 8);
    QVERIFY2(miss.isEmpty(), qPrintable(miss));
    snapshot("touch-pad");
    // Two fingers tapping: a right click there.
    fingers({QLineF(150, 650, 150, 650), QLineF(220, 650, 220, 650)}, 0);
    miss = missed(nextButton(window), 3, cursor, 8);
    QVERIFY2(miss.isEmpty(), qPrintable(miss));
    // Tap, then touch again and move: a drag from the cursor to where it goes.
    tap({200, 700});
    fingers({QLineF(200, 700, 140, 700)});
    miss = missed(nextButton(window), 1, cursor, 8);
    QVERIFY2(miss.isEmpty(), qPrintable(miss));
    miss = missed(nextButton(window, ButtonRelease), 1, cursorPixel(), 8);
    QVERIFY2(miss.isEmpty() && cursorPixel().x() < cursor.x() - 300, qPrintable(miss));

    // Direct touch, remembered: the finger drags from where it lands.
    tapOn("#touch-mode");
    QVERIFY(waitFor(mode + " === 'direct' && document.getElementById('touch-mode').textContent === 'Toucher direct'"
                    " && localStorage.getItem('lunor.touchMode') === '\"direct\"'"
                    " && document.getElementById('touch-cursor').hidden"));
    fingers({QLineF(pointIn("#picture", 0.3, 0.3), pointIn("#picture", 0.7, 0.6))});
    miss = missed(nextButton(window), 1, {768, 432}, 8);
    QVERIFY2(miss.isEmpty(), qPrintable(miss));
    miss = missed(nextButton(window, ButtonRelease), 1, {1792, 864}, 8);
    QVERIFY2(miss.isEmpty(), qPrintable(miss));
    // Two fingers going up scroll the host's page down (its wheel, down).
    fingers({QLineF(pointIn("#picture", 0.4, 0.5), pointIn("#picture", 0.4, 0.5) - QPointF(0, 150)),
             QLineF(pointIn("#picture", 0.6, 0.5), pointIn("#picture", 0.6, 0.5) - QPointF(0, 150))});
    auto wheel = window.next(ButtonPress, 10000);
    QVERIFY(wheel);
    QCOMPARE(wheel->xbutton.button, 5u);
    // A long press is a right click, and nothing else.
    fingers({QLineF(pointIn("#picture"), pointIn("#picture"))}, 0, 700);
    miss = missed(nextButton(window), 3, {1280, 720}, 8);
    QVERIFY2(miss.isEmpty(), qPrintable(miss));

    // Zoomed by two fingers spreading around a 12-pixel target, which stays
    // under them, and a tap on it lands on it; closing them unzooms.
    const QString scale = "(() => { const p = document.getElementById('picture');"
                          " return p.getBoundingClientRect().width / p.offsetWidth; })()";
    const QString laidOut = "(() => { const a = document.getElementById('area'), p = document.getElementById('picture');"
                            " return Math.abs(p.offsetWidth - Math.min(a.clientWidth, a.clientHeight * 16 / 9)) < 1; })()";
    for (const auto& [name, size] : {std::pair{"phone", QSize(390, 844)}, std::pair{"tablet", QSize(1024, 768)}}) {
      touchScreen(size);
      QVERIFY2(waitFor(laidOut), name);
      const QPointF centre = pointIn("#picture", targetAt.x() / 2560, targetAt.y() / 1440);
      const QPointF near(15, 0), far(115, 0);
      fingers({QLineF(centre - near, centre - far), QLineF(centre + near, centre + far)}, 8);
      QVERIFY2(evaluate(scale).value_or(0).toDouble() > 3, name);
      QVERIFY2(QLineF(hostPixel(centre), targetAt).length() < 2, name);
      tap(pointIn("#picture", targetAt.x() / 2560, targetAt.y() / 1440));
      miss = missed(target.next(ButtonPress, 10000), 1, targetAt, 2);
      QVERIFY2(miss.isEmpty(), qPrintable(name + (": " + miss)));
      QVERIFY2(!target.next(ButtonPress, 300), name);  // once: the browser made no mouse events of it
      fingers({QLineF(centre - far, centre - near), QLineF(centre + far, centre + near)}, 8);
      QVERIFY2(QTest::qWaitFor([&] { return std::abs(evaluate(scale).value_or(0).toDouble() - 1) < 1e-6; }), name);
      snapshot(QStringLiteral("touch-%1").arg(name));
      window.drain();
      target.drain();
    }
  }

  // The keyboard button raises the phone's keyboard: what it commits (a
  // composed word, a correction) is what the host types; the row's Ctrl
  // holds for the next key; Ctrl+Alt+Suppr.
  void phoneKeyboardTypesOnTheHost() {
    QTest::qWait(2500);  // the host's pause between sessions
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));
    window.paintPattern();
    touchScreen({390, 844});
    QVERIFY(join(roomId, kPassword));
    QVERIFY2(picturesArrive(), qPrintable(host->output()));
    QVERIFY(waitFor("!document.getElementById('keyboard-button').hidden"));
    tapOn("#keyboard-button");
    const QString up = "document.activeElement === document.getElementById('type-sink') &&"
                       " !document.getElementById('special-keys').hidden";
    QVERIFY(waitFor(up));
    snapshot("phone-keyboard");

    window.drain();
    // A word composed, which the keyboard corrects as it commits it.
    browser->call("Input.imeSetComposition", {{"text", "ehc"}, {"selectionStart", 3}, {"selectionEnd", 3}}, true);
    browser->call("Input.imeSetComposition", {{"text", "ehco"}, {"selectionStart", 4}, {"selectionEnd", 4}}, true);
    snapshot("phone-composing");
    browser->call("Input.insertText", {{"text", "echo"}}, true);
    browser->call("Input.insertText", {{"text", " ko"}}, true);
    // The keyboard corrects the last word in place.
    evaluate("(s => s.setSelectionRange(s.value.length - 2, s.value.length))(document.getElementById('type-sink'))");
    browser->call("Input.insertText", {{"text", "ok"}}, true);
    browser->call("Input.dispatchKeyEvent",
                  {{"type", "keyDown"}, {"key", "Enter"}, {"code", "Enter"}, {"windowsVirtualKeyCode", 13}, {"text", "\r"}},
                  true);
    key("keyUp", "Enter", "Enter", 13);
    QCOMPARE(window.pressedKeys(12), (QStringList{"e", "c", "h", "o", "space", "k", "o", "BackSpace", "BackSpace", "o",
                                                 "k", "Return"}));

    // Ctrl held by the row, then the keyboard's "c": Ctrl+C, and Ctrl let go.
    const QString ctrlHeld = "document.querySelector('[data-key=ctrl]').getAttribute('aria-pressed') === 'true'";
    tapOn("[data-key=ctrl]");
    QVERIFY(waitFor(ctrlHeld + " && " + up));
    browser->call("Input.insertText", {{"text", "c"}}, true);
    auto c = window.nextKeyOtherThan(XK_Control_L);
    QVERIFY(c);
    QCOMPARE(window.text(*c), QString(QChar(3)));  // Ctrl+C's control character
    QVERIFY(waitFor("!(" + ctrlHeld + ")"));
    auto released = window.next(KeyRelease);
    while (released && XLookupKeysym(&released->xkey, 0) != XK_Control_L) released = window.next(KeyRelease);
    QVERIFY(released);

    // At the row's end, which swipes bring into sight.
    const QPointF row = pointIn("#special-keys");
    const QString inSight = "document.querySelector('[data-key=ctrl-alt-delete]').getBoundingClientRect().right <= innerWidth";
    bool seen = false;
    for (int swipes = 0; swipes < 3 && !seen; ++swipes) {
      fingers({QLineF(row + QPointF(170, 0), row - QPointF(170, 0))});
      seen = waitFor(inSight, 1500);
    }
    QVERIFY(seen);
    tapOn("[data-key=ctrl-alt-delete]");
    auto del = window.next(KeyPress);
    while (del && XLookupKeysym(&del->xkey, 0) != XK_Delete) del = window.next(KeyPress);
    QVERIFY(del);
    QCOMPARE(del->xkey.state & (ControlMask | Mod1Mask), unsigned(ControlMask | Mod1Mask));

    // The button again: the keyboard and the row go.
    tapOn("#keyboard-button");
    QVERIFY(waitFor("document.activeElement !== document.getElementById('type-sink') &&"
                    " document.getElementById('special-keys').hidden"));
  }

  void refusalsAreWordedAsTheApplicationWordsThem() {
    // Without a name the host is told the client ended it.
    evaluate("document.getElementById('first-name').value = document.getElementById('last-name').value = ''");
    // An ID nobody hosts.
    evaluate("document.getElementById('session-id').value = ''");
    QVERIFY(join("000000000", QString()));
    QVERIFY2(failureShown("Hôte introuvable"), qPrintable(pageLog()));
    closeEnd();

    // A wrong password asks again, and the right one gets in.
    QTest::qWait(2500);  // the host's pause between sessions
    evaluate("document.getElementById('session-id').value = ''");
    QVERIFY(join(roomId, "wrong"));
    QVERIFY(waitFor("document.getElementById('stage-status').textContent === 'Mot de passe incorrect'"
                    " && document.getElementById('password-dialog').open",
                    30000));
    snapshot("password");
    typeInto("password", kPassword);
    clickOn("#password-ok");
    QVERIFY(picturesArrive());
    // Proved to the host itself, on the connection the wrong one was tried on.
    QVERIFY2(pageLog().count("Mot de passe prouvé à l’hôte") == 1 && pageLog().count("PeerConnection créée") == 1,
             qPrintable(pageLog()));
    clickOn("#leave");
    QVERIFY(endShown("Vous avez quitté la session"));
    closeEnd();
  }

  // The host's identity, kept on first contact, is what the page holds it
  // to: another one answering for its ID is refused before any try of the
  // password reaches it.
  void aHostWhoseIdentityChangedIsRefused() {
    QTest::qWait(2500);  // the host's pause between sessions
    const QString recent = QStringLiteral("JSON.parse(localStorage.getItem('lunor.recents')).find(r => r.id === %1)")
                               .arg(quoted(roomId));
    // Kept with the device key the host gave once the password was proved.
    const QString kept = evaluate(recent + ".hostKey").value_or(QJsonValue()).toString();
    QVERIFY2(kept.size() == 44, qPrintable(kept));
    QCOMPARE(evaluate(recent + ".hostDeviceKey.length").value_or(QJsonValue()).toInt(), 44);
    auto keep = [&](const QString& key) {
      evaluate(QStringLiteral("(() => { const list = JSON.parse(localStorage.getItem('lunor.recents'));"
                              " list.find(r => r.id === %1).hostKey = %2;"
                              " localStorage.setItem('lunor.recents', JSON.stringify(list)); })()")
                   .arg(quoted(roomId), quoted(key)));
    };
    keep(QByteArray(32, 'x').toBase64());
    const qsizetype proved = host->output().count("Mot de passe prouvé");
    evaluate("document.getElementById('session-id').value = ''");
    QVERIFY(join(roomId, kPassword));
    QVERIFY2(failureShown("L'identité de cet ordinateur a changé"), qPrintable(pageLog()));
    closeEnd();
    QCOMPARE(host->output().count("Mot de passe prouvé"), proved);
    keep(kept);
  }

  // A host with a person at its terminal: the page waits for their answer
  // showing the code the terminal shows, hears a refusal as the application
  // words it, and is let in on a yes (over a connection with the very
  // certificates the code was made from: the host holds the page to it).
  void anAttendedHostsPersonDecides() {
    test::RemoteProcess attended("script", server->url(), screen->name());
    QVERIFY(attended.start({"-qfec", QString(LUNOR_REMOTE_BINARY) + " --headless-host", "/dev/null"}));
    const QString room = attended.roomId();
    QVERIFY2(!room.isEmpty() && attended.waitForOutput("Room créée"), qPrintable(attended.output()));

    evaluate("document.getElementById('session-id').value = ''");
    QVERIFY(join(room, QString()));
    QVERIFY2(attended.waitForOutput("wants to connect: allow? [y/N]"), qPrintable(attended.output()));
    QVERIFY2(sameCodeAsTheHosts(attended, 1), qPrintable(attended.output() + pageLog()));
    snapshot("waiting");
    attended.process().write("n\n");
    QVERIFY(failureShown("Connexion refusée par l'hôte"));
    closeEnd();

    QTest::qWait(6000);  // the server's pause before knocking again after a refusal
    evaluate("document.getElementById('session-id').value = ''");
    QVERIFY(join(room, QString()));
    QVERIFY(QTest::qWaitFor([&] { return attended.output().count("wants to connect: allow?") == 2; }, 20000));
    QVERIFY2(sameCodeAsTheHosts(attended, 2), qPrintable(attended.output() + pageLog()));
    attended.process().write("y\n");
    QVERIFY(picturesArrive());
    QVERIFY(waitFor("document.getElementById('waiting').hidden"));
    clickOn("#leave");
    QVERIFY(endShown("Vous avez quitté la session"));
  }

  // A person with a keyboard only: the ID field has the keyboard when the
  // page opens and takes the ID as the host shows it, Enter joins and
  // proves the password; on the stage every key is the host's, but Ctrl,
  // Alt and Shift let go alone give the keyboard to the page (the host
  // hears none of it), Escape gives it back, and Enter on "Déconnecter" leaves.
  void aKeyboardOnlyPersonJoinsAndLeaves() {
    QTest::qWait(2500);  // the host's pause between sessions
    test::TestWindow window(screen->name(), QRect(0, 0, 2560, 1440));  // has the keyboard
    const auto stroke = [&](const QString& code, const QString& key, int windowsCode, int modifiers, bool down,
                            const QString& text = {}) {
      QJsonObject event{{"type", down ? (text.isEmpty() ? "rawKeyDown" : "keyDown") : "keyUp"}, {"code", code},
                        {"key", key}, {"windowsVirtualKeyCode", windowsCode}, {"modifiers", modifiers}};
      if (!text.isEmpty()) event.insert("text", text);
      browser->call("Input.dispatchKeyEvent", event, true);
    };
    const auto enter = [&] {
      stroke("Enter", "Enter", 13, 0, true, "\r");
      stroke("Enter", "Enter", 13, 0, false);
    };
    // DevTools' modifier bits: Alt 1, Ctrl 2, Shift 8.
    const auto chord = [&] {
      stroke("ControlLeft", "Control", 17, 2, true);
      stroke("AltLeft", "Alt", 18, 3, true);
      stroke("ShiftLeft", "Shift", 16, 11, true);
      stroke("ShiftLeft", "Shift", 16, 3, false);
      stroke("AltLeft", "Alt", 18, 2, false);
      stroke("ControlLeft", "Control", 17, 0, false);
    };
    const auto focused = [&](const QString& id) {
      return waitFor(QStringLiteral("document.activeElement && document.activeElement.id === %1").arg(quoted(id)));
    };

    QVERIFY(focused("session-id"));
    browser->call("Input.insertText", {{"text", roomId.left(3) + " " + roomId.mid(3, 3) + "-" + roomId.mid(6)}}, true);
    enter();
    QVERIFY(waitFor("document.getElementById('password-dialog').open", 30000));
    QVERIFY(focused("password"));
    browser->call("Input.insertText", {{"text", kPassword}}, true);
    enter();
    QVERIFY(picturesArrive());
    QVERIFY(focused("area"));

    window.drain();
    chord();
    QVERIFY(focused("leave"));
    stroke("Escape", "Escape", 27, 0, true);
    stroke("Escape", "Escape", 27, 0, false);
    QVERIFY(focused("area"));
    press("KeyK", "k", 75);
    QCOMPARE(window.pressedKeys(1), QStringList{"k"});  // nothing of the chord or of Escape came first

    chord();
    QVERIFY(focused("leave"));
    enter();
    QVERIFY(endShown("Vous avez quitté la session"));
    QVERIFY(focused("end-ok"));
    enter();
    QVERIFY(waitFor("!document.getElementById('directory').hidden"));
  }

  void hostEndingShowsItsReason() {
    QTest::qWait(2500);
    // From the recent connections this time: the host's card.
    QVERIFY(evaluate(QStringLiteral("(() => { const card = [...document.querySelectorAll('#recents .recent')]"
                                    ".find(c => c.dataset.id === %1);"
                                    " if (card) card.querySelector('.prominent').setAttribute('data-chosen', '1');"
                                    " return !!card; })()")
                         .arg(quoted(roomId)))
                .value_or(QJsonValue())
                .toBool());
    clickOn("[data-chosen]");
    QVERIFY(waitFor("document.getElementById('password-dialog').open", 30000));
    typeInto("password", kPassword);
    clickOn("#password-ok");
    QVERIFY(picturesArrive());
    ::kill(static_cast<pid_t>(host->process().processId()), SIGTERM);
    QVERIFY(endShown("Hôte s’est déconnecté de votre ordinateur"));
  }
};

QTEST_GUILESS_MAIN(WebClientTest)
#include "web_client_test.moc"
