// SPDX-License-Identifier: GPL-3.0-or-later
// The stage in a real window on a private X server: where a frame lands in
// each display mode, and the input item's messages.

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include "gui_test_main.h"
#include "session_probe.h"

Q_IMPORT_QML_PLUGIN(Lunor_ClientPlugin)

using namespace lunor;

namespace {

// Red in the decoder's layout (BT.601, limited range), of a high-definition
// size: its colours must not be read with another matrix.
struct RedFrame {
  std::vector<uint8_t> luma = std::vector<uint8_t>(1280 * 720, 81);
  std::vector<uint8_t> cb = std::vector<uint8_t>(640 * 360, 90), cr = std::vector<uint8_t>(640 * 360, 240);
  rtc::I420FrameView view() const { return {luma.data(), cb.data(), cr.data(), 1280, 640, 640, 1280, 720, 0}; }
};

// A picture of w x h whose top left quarter is red, the rest black: the
// host's screen coded at some size (the chroma of an odd number of rows
// when h / 2 is odd).
struct QuarterFrame {
  int w, h;
  std::vector<uint8_t> luma, cb, cr;
  QuarterFrame(int w, int h) : w(w), h(h), luma(size_t(w) * h, 16), cb(size_t(w / 2) * (h / 2), 128), cr(cb) {
    for (int r = 0; r < h / 2; ++r) {
      std::fill_n(luma.begin() + ptrdiff_t(r) * w, w / 2, 81);
      if (r < h / 4) {
        std::fill_n(cb.begin() + ptrdiff_t(r) * (w / 2), w / 4, 90);
        std::fill_n(cr.begin() + ptrdiff_t(r) * (w / 2), w / 4, 240);
      }
    }
  }
  rtc::I420FrameView view() const { return {luma.data(), cb.data(), cr.data(), w, w / 2, w / 2, w, h, 0}; }
};

bool isRed(QRgb pixel) { return qRed(pixel) > 200 && qGreen(pixel) < 40 && qBlue(pixel) < 40; }
bool isBlack(QRgb pixel) { return qRed(pixel) < 30 && qGreen(pixel) < 30 && qBlue(pixel) < 30; }

}  // namespace

class StageTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::ScriptedSession> scripted;
  std::shared_ptr<rtc::FakeVideoTrack> track;
  std::unique_ptr<QQuickView> view;

  // A client session with the host's 320 x 180 picture on its track, shown
  // by the stage in a 400 x 300 window.
  bool showStage(int displayMode) {
    scripted = std::make_unique<test::ScriptedSession>();
    if (!scripted->clientInRoom()) return false;
    track = std::make_shared<rtc::FakeVideoTrack>("remote");
    scripted->connection()->observer->onVideoTrack(track);
    scripted->server.sendJson(test::signalMessage({{"type", "videoGeometry"}, {"width", 320}, {"height", 180}}));
    if (!QTest::qWaitFor([&] { return scripted->client().hasRemoteVideoTrack() &&
                                      scripted->client().remoteVideoSize() == QSize(320, 180); }, 5000)) {
      return false;
    }
    const size_t sinks = track->sinkCount();  // the session's own watch for a first picture
    view = std::make_unique<QQuickView>();
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->engine()->addImportPath("qrc:/qt/qml");
    view->setInitialProperties({{"session", QVariant::fromValue(&scripted->client())}, {"displayMode", displayMode}});
    view->setSource(QUrl("qrc:/qt/qml/Lunor/Client/Stage.qml"));
    view->resize(400, 300);
    view->show();
    return QTest::qWaitForWindowExposed(view.get()) && track->sinkCount() == sinks + 1;
  }

  // The host's "control" channel, open, with the picture fitted in the
  // window (it spans y 37.5 to 262.5); null when either does not happen.
  std::shared_ptr<rtc::FakeDataChannel> openControl() {
    auto control = std::make_shared<rtc::FakeDataChannel>("control");
    control->state_ = rtc::DataChannelState::Open;
    scripted->connection()->observer->onDataChannel(control);
    const bool ready = QTest::qWaitFor(
        [&] {
          return scripted->client().isControlChannelOpen() &&
                 scripted->client().displayedVideoRect() == QRectF(0, 0, 400, 225);
        },
        5000);
    return ready ? control : nullptr;
  }

  // Feeds red frames until the window shows them; the grabbed picture.
  QImage showRed() {
    const RedFrame red;
    QImage image;
    std::ignore = QTest::qWaitFor(
        [&] {
          track->deliver(red.view());
          QTest::qWait(50);
          image = view->grabWindow();
          return isRed(image.pixel(image.width() / 2, image.height() / 2));
        },
        10000);
    return image;
  }

  // What went out on the control channel, in short ("mdown 1 0.50,0.50",
  // "mod cmd 1", "keydown 0"), pointer moves left out. Two decimals: the
  // picture sits on whole pixels, half a pixel off centre.
  static QStringList sent(const rtc::FakeDataChannel& control) {
    QStringList sent;
    for (const auto& [text, binary] : control.sent) {
      const QJsonObject m = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
      const QString t = m.value("t").toString();
      if (t == "mod") {
        sent << QString("mod %1 %2").arg(m.value("k").toString()).arg(m.value("d").toBool());
      } else if (t.startsWith("key")) {
        sent << QString("%1 %2").arg(t).arg(m.value("keyCode").toInt());
      } else if (t != "move") {
        sent << QString("%1 %2 %3,%4").arg(t).arg(m.value("b").toInt())
                    .arg(m.value("x").toDouble(), 0, 'f', 2).arg(m.value("y").toDouble(), 0, 'f', 2);
      }
    }
    return sent;
  }

 private Q_SLOTS:
  void cleanup() {
    view.reset();
    track.reset();
    scripted.reset();
  }

  void pictureLandsWhereTheRectangleSays_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QRectF>("reported");  // in the picture container, y upwards
    QTest::addColumn<QRect>("picture");    // in the window, y downwards
    QTest::newRow("fit") << 0 << QRectF(0, 0, 400, 225) << QRect(0, 38, 400, 225);
    QTest::newRow("fill") << 1 << QRectF(0, 0, 534, 300) << QRect(0, 0, 400, 300);
    QTest::newRow("one to one") << 2 << QRectF(0, 0, 320, 180) << QRect(40, 60, 320, 180);
  }
  void pictureLandsWhereTheRectangleSays() {
    QFETCH(int, mode);
    QFETCH(QRectF, reported);
    QFETCH(QRect, picture);
    QVERIFY(showStage(mode));
    QTRY_COMPARE(scripted->client().displayedVideoRect(), reported);
    const QImage image = showRed();
    const QPoint inside[] = {picture.center(), picture.topLeft() + QPoint(3, 3), picture.bottomRight() - QPoint(3, 3)};
    for (const QPoint& p : inside) QVERIFY2(isRed(image.pixel(p)), qPrintable(QString("(%1,%2)").arg(p.x()).arg(p.y())));
    if (picture.top() > 3) {
      QVERIFY(isBlack(image.pixel(200, picture.top() - 3)));
      QVERIFY(isBlack(image.pixel(200, picture.bottom() + 3)));
    }
    if (picture.left() > 3) QVERIFY(isBlack(image.pixel(picture.left() - 3, 150)));
  }

  // The host codes its screen smaller when the link narrows: whatever the
  // size of the pictures, each covers the same ground, unskewed, so what is
  // under the pointer is where the click lands.
  void smallerPicturesCoverTheSameGround() {
    QVERIFY(showStage(0));
    const auto control = openControl();
    QVERIFY(control);
    // The picture spans y 37.5 to 262.5: its red quarter x 0 to 200, y 37.5 to 150.
    for (const QSize size : {QSize(320, 180), QSize(240, 136), QSize(160, 90), QSize(1440, 810), QSize(320, 180)}) {
      const QuarterFrame frame(size.width(), size.height());
      QImage image;
      const bool shown = QTest::qWaitFor(
          [&] {
            track->deliver(frame.view());
            QTest::qWait(50);
            image = view->grabWindow();
            return isRed(image.pixel(100, 94)) && isBlack(image.pixel(300, 200));
          },
          10000);
      QVERIFY2(shown, qPrintable(QString("%1x%2").arg(size.width()).arg(size.height())));
      for (const QPoint p : {QPoint(192, 94), QPoint(100, 42), QPoint(100, 142)}) QVERIFY(isRed(image.pixel(p)));
      for (const QPoint p : {QPoint(208, 94), QPoint(100, 158)}) QVERIFY(isBlack(image.pixel(p)));
      control->sent.clear();
      QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(200, 94));
      QTRY_COMPARE(sent(*control), (QStringList{"mdown 0 0.50,0.25", "mup 0 0.50,0.25"}));
    }
  }

  // A secondary double click is the client's click, then "doubleclick" for
  // the second press; positions are normalised over the picture.
  void pointerAndKeysBecomeControlMessages() {
    QVERIFY(showStage(0));
    const auto control = openControl();
    QVERIFY(control);

    // The picture spans y 37.5 to 262.5 in the window; its centre is (200, 150).
    QTest::mouseDClick(view.get(), Qt::RightButton, {}, QPoint(200, 150));  // two clicks, quickly
    // A drag that leaves the picture stops at its edge.
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 150), 1000);
    QTest::mouseMove(view.get(), QPoint(100, 5));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(100, 5));
    // Keys as X delivers them: the A key is X keycode 38, the macOS code 0.
    auto key = [&](QEvent::Type type, int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode) {
      QKeyEvent event(type, qtKey, modifiers, scanCode, 0, 0);
      QCoreApplication::sendEvent(view->activeFocusItem(), &event);
    };
    key(QEvent::KeyPress, Qt::Key_Super_L, Qt::MetaModifier, 133);
    key(QEvent::KeyPress, Qt::Key_Shift, Qt::MetaModifier | Qt::ShiftModifier, 50);
    key(QEvent::KeyPress, Qt::Key_A, Qt::MetaModifier | Qt::ShiftModifier, 38);
    key(QEvent::KeyRelease, Qt::Key_A, Qt::MetaModifier | Qt::ShiftModifier, 38);
    key(QEvent::KeyRelease, Qt::Key_Shift, Qt::MetaModifier, 50);

    QCOMPARE(sent(*control), (QStringList{"mdown 1 0.50,0.50", "mup 1 0.50,0.50", "doubleclick 1 0.50,0.50",
                                "mup 1 0.50,0.50", "mdown 0 0.25,0.50", "drag 0 0.25,0.00", "mup 0 0.25,0.00",
                                "mod cmd 1", "mod shift 1", "keydown 0", "keyup 0", "mod shift 0"}));
  }

  // A press whose release will not come to the view (another item takes
  // the mouse, the keyboard goes elsewhere) is let go on the host at once,
  // and only once.
  void heldButtonsAreLetGoWhenTheViewLosesThem_data() {
    QTest::addColumn<bool>("grabTaken");
    QTest::newRow("the mouse is taken") << true;
    QTest::newRow("the keyboard goes") << false;
  }
  void heldButtonsAreLetGoWhenTheViewLosesThem() {
    QFETCH(bool, grabTaken);
    QVERIFY(showStage(0));
    const auto control = openControl();
    QVERIFY(control);
    auto buttons = [&] { return sent(*control).filter(QRegularExpression("^m(down|up) ")); };
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 150));
    QTest::mouseMove(view.get(), QPoint(120, 150));
    QQuickItem* input = view->activeFocusItem();
    QVERIFY(input);
    QQuickItem elsewhere(view->contentItem());
    if (grabTaken) {
      input->ungrabMouse();
    } else {
      elsewhere.forceActiveFocus();
    }
    QTRY_COMPARE(buttons(), (QStringList{"mdown 0 0.25,0.50", "mup 0 0.30,0.50"}));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(120, 150));
    QTest::qWait(100);
    QCOMPARE(buttons().size(), 2);
  }
};

LUNOR_GUI_TEST_MAIN(StageTest)
#include "stage_test.moc"
