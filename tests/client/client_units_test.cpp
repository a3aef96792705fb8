// SPDX-License-Identifier: GPL-3.0-or-later
// The client's pure parts: placement, input on the wire, the link gauge.

#include <QtTest>

#include "client/input_mapping.h"
#include "client/link_gauge.h"
#include "client/video_geometry.h"
#include "protocol/key_codes.h"

using namespace lunor;
using namespace lunor::modifier_flags;

namespace {

struct Window {
  uint32_t frames;
  QSize size;
  int qp;
  uint32_t packets;
  int32_t lost;
  int context;
  double rttMs = 20;
  double bufferMs = 10;  // each frame's wait in the jitter buffer
};

// The receiver's counters, from zero, after the given windows.
void add(rtc::VideoReceiveStats& stats, const Window& w) {
  stats.framesDecoded += w.frames;
  stats.jitterBufferEmittedCount += w.frames;
  stats.jitterBufferDelay += w.bufferMs / 1000 * w.frames;
  stats.qpSum += uint64_t(w.qp) * w.frames;
  stats.frameWidth = uint32_t(w.size.width());
  stats.frameHeight = uint32_t(w.size.height());
  stats.packetsReceived += w.packets;
  stats.packetsLost += w.lost;
  stats.bytesReceived += 250'000;
}

}  // namespace

Q_DECLARE_METATYPE(lunor::AspectMode)
Q_DECLARE_METATYPE(std::vector<Window>)
Q_DECLARE_METATYPE(std::vector<bool>)

class ClientUnitsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void fittedRect_data() {
    QTest::addColumn<AspectMode>("mode");
    QTest::addColumn<QSizeF>("video");
    QTest::addColumn<QSizeF>("container");
    QTest::addColumn<QRectF>("expected");
    const QSizeF hd(1920, 1080), square(1000, 1000);
    QTest::newRow("fit, narrower container") << AspectMode::Fit << hd << square << QRectF(0, 218.75, 1000, 562.5);
    QTest::newRow("fill overhangs sideways")
        << AspectMode::Fill << hd << square << QRectF((1000 - 16000.0 / 9) / 2, 0, 16000.0 / 9, 1000);
    QTest::newRow("native, larger than the container") << AspectMode::Native << hd << square
                                                       << QRectF(-460, -40, 1920, 1080);
    QTest::newRow("fit, wider container") << AspectMode::Fit << hd << QSizeF(2000, 900) << QRectF(200, 0, 1600, 900);
    QTest::newRow("no video width") << AspectMode::Fit << QSizeF(0, 1080) << QSizeF(800, 600)
                                    << QRectF(0, 0, 800, 600);
    QTest::newRow("negative container") << AspectMode::Fill << hd << QSizeF(-5, 600) << QRectF(0, 0, -5, 600);
    QTest::newRow("NaN height") << AspectMode::Native << QSizeF(1920, NAN) << QSizeF(800, 600)
                                << QRectF(0, 0, 800, 600);
  }
  void fittedRect() {
    QFETCH(AspectMode, mode);
    QFETCH(QSizeF, video);
    QFETCH(QSizeF, container);
    QTEST(lunor::fittedRect(mode, video.width(), video.height(), container.width(), container.height()), "expected");
  }

  // On whole pixels, fractional edges grow outwards; with no picture size
  // yet, the profile's.
  void integralAndStageSize() {
    QCOMPARE(integral(QRectF(0, 218.75, 1000, 562.5)), QRectF(0, 218, 1000, 564));
    QCOMPARE(integral(QRectF(-0.5, -1.25, 10, 2)), QRectF(-1, -2, 11, 3));
    QCOMPARE(stagePictureSize(QSize(0, 0), QualityProfile::Epic), QSizeF(2560, 1440));
    QCOMPARE(stagePictureSize(QSize(0, 0), QualityProfile::Low), QSizeF(1280, 720));
    QCOMPARE(stagePictureSize(QSize(1920, 0), QualityProfile::Epic), QSizeF(1920, 0));
  }

  // The view's points are bottom-up: y upwards.
  void positionsAreNormalisedOverThePicture_data() {
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QRectF>("displayed");
    QTest::addColumn<QRectF>("bounds");
    QTest::addColumn<QPointF>("expected");
    const QRectF picture(0, 218, 1000, 564), view(0, 0, 1000, 1000);
    QTest::newRow("bottom edge") << QPointF(500, 218) << picture << view << QPointF(0.5, 1.0);
    QTest::newRow("top edge") << QPointF(500, 782) << picture << view << QPointF(0.5, 0.0);
    QTest::newRow("beyond the top right corner") << QPointF(1200, 900) << picture << view << QPointF(1.0, 0.0);
    QTest::newRow("left of the picture") << QPointF(-30, 500) << picture << view << QPointF(0.0, 0.5);
    QTest::newRow("NaN takes the low edge") << QPointF(NAN, NAN) << picture << view << QPointF(0.0, 1.0);
    QTest::newRow("no rectangle: the bounds") << QPointF(250, 750) << QRectF() << view << QPointF(0.25, 0.25);
    QTest::newRow("empty area: the origin") << QPointF(5, 5) << QRectF() << QRectF(0, 0, 0, 100) << QPointF(0, 0);
  }
  void positionsAreNormalisedOverThePicture() {
    QFETCH(QPointF, point);
    QFETCH(QRectF, displayed);
    QFETCH(QRectF, bounds);
    QTEST(normalisedPosition(point, displayed, bounds), "expected");
  }

  void modifierChangesGoCmdShiftAltCtrl_data() {
    QTest::addColumn<uint>("before");
    QTest::addColumn<uint>("after");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("cmd and shift at once") << 0u << (kCmd | kShift) << QStringList{"cmd+", "shift+"};
    QTest::newRow("all four let go") << (kCmd | kShift | kAlt | kCtrl) << 0u
                                     << QStringList{"cmd-", "shift-", "alt-", "ctrl-"};
    QTest::newRow("one changes, the others held") << (kCtrl | kShift) << kCtrl << QStringList{"shift-"};
    QTest::newRow("other flags say nothing") << 0u << 0x10000u << QStringList{};
  }
  void modifierChangesGoCmdShiftAltCtrl() {
    QFETCH(uint, before);
    QFETCH(uint, after);
    QStringList got;
    for (const auto& m : modifierChanges(before, after)) got << modifierName(m.modifier) + (m.down ? "+" : "-");
    QTEST(got, "sent");
  }

  void clicksCountLikeTheDesktop() {
    ClickCounter clicks(400, 5);
    QCOMPARE(clicks.press(1, {10, 10}, 1000), 1);
    QCOMPARE(clicks.press(1, {12, 9}, 1200), 2);  // soon and near: the double click
    QCOMPARE(clicks.press(1, {12, 9}, 1400), 3);  // a third is no double click
    QCOMPARE(clicks.press(1, {12, 9}, 2000), 1);  // too late
    QCOMPARE(clicks.press(1, {40, 9}, 2100), 1);  // too far
    QCOMPARE(clicks.press(0, {40, 9}, 2200), 1);  // another button
  }

  void wheelDeltasInTheHostsUnits_data() {
    QTest::addColumn<QPoint>("angle");
    QTest::addColumn<QPoint>("pixels");
    QTest::addColumn<QPointF>("expected");
    QTest::newRow("a notch up") << QPoint(0, 120) << QPoint() << QPointF(0, -40);
    QTest::newRow("a notch to the left") << QPoint(120, 0) << QPoint() << QPointF(40, 0);
    QTest::newRow("a fine wheel's step") << QPoint(0, -15) << QPoint() << QPointF(0, 5);
    QTest::newRow("a trackpad's pixels win") << QPoint(0, 120) << QPoint(3, -7) << QPointF(3, 7);
  }
  void wheelDeltasInTheHostsUnits() {
    QFETCH(QPoint, angle);
    QFETCH(QPoint, pixels);
    QTEST(wheelPixels(angle, pixels), "expected");
  }

  // One table for both sides: every key the host maps back to an X key is
  // the key the client reads it from.
  void keyTableRoundTrips() {
    int keys = 0;
    for (int mac = 0; mac < 256; ++mac) {
      const auto key = macKeyToLinux(static_cast<uint16_t>(mac));
      if (!key) continue;
      ++keys;
      QCOMPARE(macKeyForXKeycode(key->evdev + 8), std::optional<uint16_t>(mac));
    }
    QVERIFY(keys >= 111);  // the whole US ANSI keyboard
    QVERIFY(!macKeyForXKeycode(7));
    QVERIFY(!macKeyForXKeycode(255 + 1));
  }

  void linkGaugeSaysWhenTheLinkLimitsThePicture_data() {
    QTest::addColumn<std::vector<Window>>("windows");
    QTest::addColumn<std::vector<bool>>("limited");
    const QSize full(1920, 1080), smaller(1280, 720);
    const Window busy{50, full, 28, 400, 0, 0};
    QTest::newRow("a free link, busy screen") << std::vector<Window>{busy, {50, full, 29, 400, 0, 0}}
                                              << std::vector<bool>{false, false};
    QTest::newRow("a busy screen's coarse picture is not the link")
        << std::vector<Window>{{20, full, 45, 200, 0, 0}, {20, full, 45, 200, 0, 0}} << std::vector<bool>{false, false};
    QTest::newRow("the round trip grows, then two clean windows to clear")
        << std::vector<Window>{busy, {50, full, 28, 400, 0, 0, 180}, busy, busy}
        << std::vector<bool>{false, true, true, false};
    QTest::newRow("frames wait longer in the jitter buffer")
        << std::vector<Window>{busy, {50, full, 28, 400, 0, 0, 20, 160}} << std::vector<bool>{false, true};
    QTest::newRow("a long but steady round trip is no queue")
        << std::vector<Window>{{50, full, 28, 400, 0, 0, 300}, {50, full, 28, 400, 0, 0, 320}}
        << std::vector<bool>{false, false};
    QTest::newRow("the host sends a smaller picture")
        << std::vector<Window>{busy, {50, smaller, 28, 300, 0, 0}} << std::vector<bool>{false, true};
    QTest::newRow("a smaller picture the client asked for is not the link")
        << std::vector<Window>{busy, {50, smaller, 28, 300, 0, 1}} << std::vector<bool>{false, false};
    QTest::newRow("packets lost") << std::vector<Window>{busy, {50, full, 28, 400, 40, 0}}
                                  << std::vector<bool>{false, true};
  }
  void linkGaugeSaysWhenTheLinkLimitsThePicture() {
    QFETCH(std::vector<Window>, windows);
    LinkGauge gauge;
    rtc::ConnectionStats stats{rtc::VideoReceiveStats{}, {}, 0.02, {}};
    QVERIFY(!gauge.update(stats, 2, 0));  // no window yet
    std::vector<bool> seen;
    for (const Window& w : windows) {
      add(*stats.receive, w);
      stats.roundTripTime = w.rttMs / 1000;
      const auto reading = gauge.update(stats, 2, w.context);
      QVERIFY(reading);
      seen.push_back(reading->limited);
    }
    QTEST(seen, "limited");
    // A new stream's counters start again from zero: no reading from them.
    rtc::ConnectionStats again{rtc::VideoReceiveStats{}, {}, {}, {}};
    add(*again.receive, {5, QSize(1920, 1080), 28, 40, 0, 0});
    QVERIFY(!gauge.update(again, 2, 0));
  }

  void linkSummaryInFrench() {
    LinkReading r{.kbps = 950, .size = QSize(1280, 720), .fps = 12.2, .limited = true};
    QCOMPARE(linkSummary(r), QString("Réseau limité · 950 kbit/s · 1280×720 · 12 i/s"));
    r.kbps = 2450;
    r.limited = false;
    QCOMPARE(linkSummary(r), QString("2,5 Mbit/s · 1280×720 · 12 i/s"));
  }
};

QTEST_GUILESS_MAIN(ClientUnitsTest)
#include "client_units_test.moc"
