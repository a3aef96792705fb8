#include <QtTest>

#include "rtc/h264/link_fitter.h"

using namespace lunor::rtc;

namespace {

// A 1080p screen at 25 pictures a second whose sharp pictures cost
// `bitsPerPixel`, encoded at quantiser 28; runs `seconds` and says what
// went out in the last one.
struct Run {
  int encodedLastSecond = 0;
  int width = 0;
  int height = 0;
};

Run run(LinkFitter& fitter, int64_t& clockUs, double seconds, double bitsPerPixel) {
  Run r;
  const int pictures = int(seconds * 25);
  for (int i = 0; i < pictures; ++i, clockUs += 40'000) {
    const auto d = fitter.next(clockUs, false);
    if (!d.encode) continue;
    fitter.encoded(size_t(bitsPerPixel * d.width * d.height / 8), LinkFitter::kSharpQp, d.width, d.height, false);
    if (i >= pictures - 25) {
      ++r.encodedLastSecond;
      r.width = d.width;
      r.height = d.height;
    }
  }
  return r;
}

}  // namespace

class LinkFitterTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // A scrolling terminal costs about 0.02 bit a pixel: 1 Mbit/s at 1080p
  // and 25 frames a second.
  void fitsTheFrameRateThenTheSize_data() {
    QTest::addColumn<int>("kbps");
    QTest::addColumn<int>("minFps");
    QTest::addColumn<int>("maxFps");
    QTest::addColumn<int>("width");
    QTest::newRow("a free link: everything, full size") << 8000 << 25 << 25 << 1920;
    QTest::newRow("0.6 Mbit/s: fewer frames, full size") << 600 << 13 << 15 << 1920;
    QTest::newRow("0.15 Mbit/s: three quarters the size") << 150 << 5 << 7 << 1440;
    QTest::newRow("50 kbit/s: half the size, fewer frames still") << 50 << 4 << 5 << 960;
  }
  void fitsTheFrameRateThenTheSize() {
    QFETCH(int, kbps);
    LinkFitter fitter(1920, 1080, 25);
    int64_t clock = 0;
    run(fitter, clock, 2, 0.02);  // learns on a free link
    fitter.setTarget(kbps * 1000, 25);
    const Run r = run(fitter, clock, 3, 0.02);
    QFETCH(int, minFps);
    QFETCH(int, maxFps);
    QVERIFY2(r.encodedLastSecond >= minFps && r.encodedLastSecond <= maxFps,
             qPrintable(QString::number(r.encodedLastSecond)));
    QTEST(r.width, "width");
    QCOMPARE(r.height * 16, r.width * 9);
  }

  // Back on a wide link the picture grows again, one step at a time and
  // not before it has held its size a while.
  void growsBackStepByStep() {
    LinkFitter fitter(1920, 1080, 25);
    int64_t clock = 0;
    fitter.setTarget(8'000'000, 25);
    run(fitter, clock, 2, 0.02);
    fitter.setTarget(50'000, 25);
    QCOMPARE(run(fitter, clock, 2, 0.02).width, 960);
    fitter.setTarget(8'000'000, 25);
    QCOMPARE(run(fitter, clock, 0.5, 0.02).width, 960);  // held
    QCOMPARE(run(fitter, clock, 3, 0.02).width, 1440);
    const Run back = run(fitter, clock, 3.5, 0.02);
    QCOMPARE(back.width, 1920);
    QCOMPARE(back.encodedLastSecond, 25);
  }

  // Pictures coarser than a sharp one count for what they would have cost
  // sharp, and key frames (dearer whatever the link) teach nothing.
  void learnsTheCostOfASharpPicture() {
    LinkFitter fitter(1000, 1000, 25);
    fitter.encoded(2'500, LinkFitter::kSharpQp + 6, 1000, 1000, false);  // half the bits of a sharp one
    QCOMPARE(fitter.bitsPerPixel(), 0.04);
    fitter.encoded(1'000'000, 20, 1000, 1000, true);
    QCOMPARE(fitter.bitsPerPixel(), 0.04);
  }

  void aKeyFrameAskedForIsNeverSkipped() {
    LinkFitter fitter(1920, 1080, 25);
    int64_t clock = 0;
    run(fitter, clock, 1, 0.02);
    fitter.setTarget(300'000, 25);
    int skipped = 0;
    for (int i = 0; i < 25; ++i, clock += 40'000) {
      skipped += fitter.next(clock, false).encode ? 0 : 1;
      QVERIFY(fitter.next(clock + 1, true).encode);
    }
    QVERIFY(skipped > 0);
  }
};

QTEST_GUILESS_MAIN(LinkFitterTest)
#include "link_fitter_test.moc"
