// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "client/link_gauge.h"

using namespace lunor;

namespace {

// The receiver's counters after `frames` decoded frames of `size` at mean
// quantiser `qp`, `packets` received and `lost` lost, from zero.
struct Counters {
  rtc::VideoReceiveStats stats;
  Counters& add(uint32_t frames, QSize size, int qp, uint32_t packets, int32_t lost = 0, uint64_t bytes = 250'000) {
    stats.framesDecoded += frames;
    stats.qpSum += uint64_t(qp) * frames;
    stats.frameWidth = uint32_t(size.width());
    stats.frameHeight = uint32_t(size.height());
    stats.packetsReceived += packets;
    stats.packetsLost += lost;
    stats.bytesReceived += bytes;
    return *this;
  }
};

struct Window {
  uint32_t frames;
  QSize size;
  int qp;
  uint32_t packets;
  int32_t lost;
  int context;
};

}  // namespace

Q_DECLARE_METATYPE(std::vector<Window>)
Q_DECLARE_METATYPE(std::vector<bool>)

class LinkGaugeTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void saysWhenTheLinkLimitsThePicture_data() {
    QTest::addColumn<std::vector<Window>>("windows");
    QTest::addColumn<std::vector<bool>>("limited");
    const QSize full(1920, 1080), smaller(1280, 720);
    QTest::newRow("a free link, busy screen") << std::vector<Window>{{50, full, 28, 400, 0, 0}, {50, full, 29, 400, 0, 0}}
                                              << std::vector<bool>{false, false};
    QTest::newRow("a still screen's refreshes say nothing of the quantiser")
        << std::vector<Window>{{2, full, 45, 10, 0, 0}, {2, full, 45, 10, 0, 0}} << std::vector<bool>{false, false};
    QTest::newRow("coarse pictures, then two clean windows to clear")
        << std::vector<Window>{{20, full, 42, 200, 0, 0}, {50, full, 28, 400, 0, 0}, {50, full, 28, 400, 0, 0}}
        << std::vector<bool>{true, true, false};
    QTest::newRow("the host sends a smaller picture")
        << std::vector<Window>{{50, full, 28, 400, 0, 0}, {50, smaller, 28, 300, 0, 0}} << std::vector<bool>{false, true};
    QTest::newRow("a smaller picture the client asked for is not the link")
        << std::vector<Window>{{50, full, 28, 400, 0, 0}, {50, smaller, 28, 300, 0, 1}} << std::vector<bool>{false, false};
    QTest::newRow("packets lost") << std::vector<Window>{{50, full, 28, 400, 0, 0}, {50, full, 28, 400, 40, 0}}
                                  << std::vector<bool>{false, true};
  }
  void saysWhenTheLinkLimitsThePicture() {
    QFETCH(std::vector<Window>, windows);
    QFETCH(std::vector<bool>, limited);
    LinkGauge gauge;
    Counters counters;
    QVERIFY(!gauge.update(counters.stats, 2, 0));  // no window yet
    std::vector<bool> seen;
    for (const Window& w : windows) {
      counters.add(w.frames, w.size, w.qp, w.packets, w.lost);
      const auto reading = gauge.update(counters.stats, 2, w.context);
      QVERIFY(reading);
      seen.push_back(reading->limited);
    }
    QCOMPARE(seen, limited);
  }

  // A new stream's counters start again from zero: no reading from them.
  void countersThatGoBackAreANewStream() {
    LinkGauge gauge;
    Counters counters;
    counters.add(50, QSize(1920, 1080), 28, 400);
    gauge.update(counters.stats, 2, 0);
    QVERIFY(!gauge.update(Counters().add(5, QSize(1920, 1080), 28, 40).stats, 2, 0));
  }

  void summaryInFrench_data() {
    QTest::addColumn<double>("kbps");
    QTest::addColumn<bool>("limited");
    QTest::addColumn<QString>("text");
    QTest::newRow("limited, kilobits") << 950.0 << true << "Réseau limité · 950 kbit/s · 1280×720 · 12 i/s";
    QTest::newRow("free") << 2450.0 << false << "2,5 Mbit/s · 1280×720 · 12 i/s";
  }
  void summaryInFrench() {
    QFETCH(double, kbps);
    QFETCH(bool, limited);
    LinkReading r;
    r.kbps = kbps;
    r.size = QSize(1280, 720);
    r.fps = 12.2;
    r.limited = limited;
    QTEST(linkSummary(r), "text");
  }
};

QTEST_GUILESS_MAIN(LinkGaugeTest)
#include "link_gauge_test.moc"
