// SPDX-License-Identifier: GPL-3.0-or-later
// The H264 engines on a screen of text; the link gap detector on a simulated link.

#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <set>

#include <QtTest>

#include "rtc/h264/h264_engine.h"
#include "rtc/playout_room.h"
#include "rtc/h264/size_ladder.h"
#include "rtc/h264/still_sharpener.h"
#include "rtc/delay_floor.h"
#include "rtc/feedback_repair.h"
#include "rtc/link_gap.h"

using namespace lunor::rtc;

namespace {

// A screenful of "text" shifted by `scroll` lines, or noise that no encoder shrinks much.
struct Screen {
  int width, height;
  std::vector<uint8_t> y, u, v;
  Screen(int w, int h, int scroll, bool noisy) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2), 128), v(u) {
    std::mt19937 noise{uint32_t(scroll)};
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const int line = (r + scroll) / 16, glyph = c / 8;
        const bool ink = ((line * 31 + glyph * 17) % 7 < 4) && (r + scroll) % 16 < 12 && c % 8 < 6;
        y[size_t(r) * w + c] = noisy ? uint8_t(noise()) : (ink ? 220 : 30);
      }
    }
  }
  H264Picture picture(int64_t timestampUs, bool key = false) const {
    H264Picture p;
    p.y = y.data(), p.u = u.data(), p.v = v.data();
    p.strideY = width, p.strideU = p.strideV = width / 2;
    p.width = width, p.height = height;
    p.timestampUs = timestampUs;
    p.keyFrame = key;
    return p;
  }
};

double psnr(const Screen& s, const H264PictureDecoder::Planes& d) {
  double sse = 0;
  for (int r = 0; r < s.height; ++r) {
    for (int c = 0; c < s.width; ++c) {
      const double e = double(s.y[size_t(r) * s.width + c]) - d.y[size_t(r) * d.strideY + c];
      sse += e * e;
    }
  }
  return sse == 0 ? 100 : 10 * std::log10(255.0 * 255 * s.width * s.height / sse);
}

H264EncoderConfig configFor(int width, int height, int bitrateBps) {
  H264EncoderConfig c;
  c.width = width;
  c.height = height;
  c.fps = 25;
  c.bitrateBps = bitrateBps;
  return c;
}

// A link's life in ms: packets every `sendEveryMs` (0: none), feedback from
// `answerAfterMs` on every `feedbackEveryMs`, none in [silentFromMs,
// silentToMs); the controller ticks every 25 ms.
struct Link {
  int sendEveryMs = 40;
  int feedbackEveryMs = 100;
  int answerAfterMs = 50;
  int roundTripMs = 0;  // 0: none reported
  int silentFromMs = -1, silentToMs = -1;
  int untilMs = 5000;
};

struct Seen {
  QList<int> startsMs, endsMs, retriesMs;
  int lastGapMs = 0;
};

Seen run(const Link& link) {
  LinkGapDetector gap;
  Seen seen;
  if (link.roundTripMs) gap.onRoundTrip(int64_t(link.roundTripMs) * 1000);
  int lastSentMs = -1;
  for (int t = 0; t <= link.untilMs; ++t) {
    const int64_t us = int64_t(t) * 1000;
    if (link.sendEveryMs && t % link.sendEveryMs == 0) {
      if (!gap.inGap()) gap.onSent(us);
      lastSentMs = t;
    }
    const bool silent = t >= link.silentFromMs && t < link.silentToMs;
    if (t % link.feedbackEveryMs == 0 && !silent && lastSentMs >= 0 && t - lastSentMs >= 0 &&
        t >= link.answerAfterMs) {
      if (gap.onFeedback(us) == LinkGapDetector::Change::Ended) {
        seen.endsMs << t;
        seen.lastGapMs = int(gap.lastGapUs() / 1000);
      }
    }
    if (t % 25 == 0) {
      const auto change = gap.onTick(us);
      if (change == LinkGapDetector::Change::Started) seen.startsMs << t;
      if (change == LinkGapDetector::Change::Retry) seen.retriesMs << t;
    }
  }
  return seen;
}

// A stretch of a link's life for the size ladder: the link's rate, and the
// quantiser of the changed pictures coded 25 a second (0: a still screen).
struct Stretch {
  int ms;
  int kbps;
  int qp;
};

}  // namespace

Q_DECLARE_METATYPE(Link)
Q_DECLARE_METATYPE(QList<Stretch>)

class RtcUnitsTest : public QObject {
  Q_OBJECT

  static void engines() {
    QTest::addColumn<QString>("engine");
    for (const auto& name : h264EngineNames()) QTest::newRow(name.c_str()) << QString::fromStdString(name);
  }

 private Q_SLOTS:
  void unknownEngineIsNone() { QVERIFY(!createH264Engine("h266")); }

  // What the viewer decodes is the screen, sharp enough to read, and key
  // frames come when asked for, only then. The first picture is readable
  // at once; a key frame asked for later may come coarse (it is capped so
  // as not to hold the pictures after it), and is readable again within
  // three pictures. A picture of another size than the encoder was opened
  // for is refused, and the encoder opened again at the new size goes on
  // with a key frame.
  void keyFramesWhenAskedAndAReadablePicture_data() { engines(); }
  void keyFramesWhenAskedAndAReadablePicture() {
    QFETCH(QString, engine);
    auto encoder = createH264Engine(engine.toStdString());
    std::string error;
    QVERIFY2(encoder->open(configFor(640, 360, 2'000'000), &error), error.c_str());
    H264PictureDecoder decoder;
    H264PictureDecoder::Planes planes;
    for (int i = 0; i < 10; ++i) {
      const Screen screen(640, 360, i * 16, false);
      const bool askKey = i == 0 || i == 5;
      H264Output out;
      QVERIFY(encoder->encode(screen.picture(i * 40'000, askKey), out));
      if (out.annexB.empty() && !askKey) continue;  // skipped to keep to the rate
      QVERIFY2(!out.annexB.empty(), "a key frame asked for comes out");
      QCOMPARE(out.keyFrame, askKey);
      QVERIFY(decoder.decode(out.annexB, planes));
      QCOMPARE(QSize(planes.width, planes.height), QSize(640, 360));
      if (i == 0 || i >= 8) {
        QVERIFY2(psnr(screen, planes) > 30, qPrintable(QStringLiteral("picture %1: %2 dB").arg(i).arg(psnr(screen, planes))));
      }
    }
    const Screen smaller(320, 180, 0, false);
    H264Output out;
    QVERIFY(!encoder->encode(smaller.picture(240'000), out));
    QVERIFY(encoder->open(configFor(320, 180, 2'000'000), nullptr));
    QVERIFY(encoder->encode(smaller.picture(280'000, true), out));
    QVERIFY(out.keyFrame);
    QVERIFY(decoder.decode(out.annexB, planes));
    QCOMPARE(planes.width, 320);
  }

  // Content that does not compress, on a narrow link: what is sent stays
  // near the link's rate (by coarser pictures or skipped ones), so that no
  // queue builds up behind the encoder.
  void aNarrowLinkIsNotOverrun_data() { engines(); }
  void aNarrowLinkIsNotOverrun() {
    QFETCH(QString, engine);
    auto encoder = createH264Engine(engine.toStdString());
    QVERIFY(encoder->open(configFor(640, 360, 4'000'000), nullptr));
    constexpr int kBps = 300'000, kPictures = 75;  // three seconds at 25 a second
    encoder->setRates(kBps, 25);
    double bits = 0;
    for (int i = 0; i < kPictures; ++i) {
      H264Output out;
      QVERIFY(encoder->encode(Screen(640, 360, i, true).picture(i * 40'000, i == 0), out));
      if (i > 0) bits += 8.0 * double(out.annexB.size());  // the first key frame aside
    }
    const double bps = bits / (kPictures / 25.0);
    QVERIFY2(bps < 2.0 * kBps, qPrintable(QString::number(bps)));
  }

  // A picture that changes much (a key frame, another screenful) is no
  // larger than a few frame intervals of the link: the pacer sends it
  // before the next picture is due.
  void aLargeChangeDoesNotHoldTheNextPicture_data() {
    QTest::addColumn<bool>("key");
    QTest::newRow("a key frame") << true;
    QTest::newRow("another screenful") << false;
  }
  void aLargeChangeDoesNotHoldTheNextPicture() {
    QFETCH(bool, key);
    constexpr int kBps = 6'000'000;
    auto encoder = createH264Engine("x264");
    QVERIFY(encoder->open(configFor(1280, 720, kBps), nullptr));
    H264Output out;
    for (int i = 0; i < 25; ++i) QVERIFY(encoder->encode(Screen(1280, 720, i, false).picture(i * 40'000, i == 0), out));
    const Screen next = key ? Screen(1280, 720, 25, false) : Screen(1280, 720, 1, true);
    QVERIFY(encoder->encode(next.picture(25 * 40'000, key), out));
    QCOMPARE(out.keyFrame, key);
    // 100 ms of the link at most (x264 may pass its buffer by a little).
    QVERIFY2(out.annexB.size() <= size_t(kBps / 8 / 10), qPrintable(QString::number(out.annexB.size())));
  }

  // Text scrolls coarse on a middling link, then stops: the repeats of the
  // still picture sharpen it, pass by pass as the link allows (band by band
  // of rows on a narrow one), and once it is sharp the repeats cost next to
  // nothing.
  void aStillPictureIsSharpenedOnce_data() {
    QTest::addColumn<int>("bps");
    QTest::addColumn<int>("firstPassQp");
    QTest::addColumn<int>("seconds");  // of repeats, 25 a second
    QTest::newRow("a fast link: sharp at once") << 2'500'000 << StillSharpener::kSharpQp << 1;
    QTest::newRow("1 Mbit/s: a coarser pass first") << 1'000'000 << StillSharpener::kSharpQp + 6 << 2;
    QTest::newRow("a very narrow link: the coarsest pass first, the others in turn")
        << 100'000 << StillSharpener::kCoarsestPassQp << 8;
  }
  void aStillPictureIsSharpenedOnce() {
    QFETCH(int, bps);
    QFETCH(int, firstPassQp);
    QCOMPARE(StillSharpener::firstPassQp(bps), firstPassQp);
    auto encoder = createH264Engine("x264");
    QVERIFY(encoder->open(configFor(640, 360, bps), nullptr));
    StillSharpener sharpener;
    H264PictureDecoder decoder;
    H264PictureDecoder::Planes planes;
    int64_t us = 0;
    size_t largestPass = 0;
    const auto code = [&](const Screen& screen, bool repeat, bool key = false) {
      const StillSharpener::Plan plan = sharpener.next(repeat, key, us, bps, 360);
      H264Picture picture = screen.picture(us, key);
      StillSharpener::apply(plan, picture);
      H264Output out;
      if (!encoder->encode(picture, out)) return size_t(0);
      sharpener.coded(plan, out.keyFrame, out.annexB.size(), us, bps);
      // A band is a fraction of a second of the link, or the end of it would
      // be lost in a narrow link's queue (whole passes here: 800 ms).
      largestPass = std::max(largestPass, picture.refineQp ? out.annexB.size() : 0);
      if (!out.annexB.empty()) decoder.decode(out.annexB, planes);
      us += 40'000;
      return out.annexB.size();
    };
    for (int i = 0; i < 10; ++i) code(Screen(640, 360, i * 3, false), false, i == 0);
    const Screen still(640, 360, 27, false);
    const double coarse = psnr(still, planes);
    size_t lastBytes = 0;
    QFETCH(int, seconds);
    largestPass = 0;
    for (int i = 0; i < seconds * 25; ++i) lastBytes = code(still, true);
    const double sharp = psnr(still, planes);
    QVERIFY2(sharp >= 45 && sharp > coarse, qPrintable(QStringLiteral("%1 → %2 dB").arg(coarse).arg(sharp)));
    QVERIFY2(lastBytes < 300, qPrintable(QString::number(lastBytes)));
    const double shareBytes = bps / 8.0 * 0.4;
    QVERIFY2(largestPass <= shareBytes, qPrintable(QStringLiteral("%1 > %2").arg(largestPass).arg(shareBytes)));
    QCOMPARE(sharpener.next(true, false, us, bps, 360).step, StillSharpener::Step::Plain);
    // A change starts over.
    QCOMPARE(sharpener.next(false, false, us, bps, 360).step, StillSharpener::Step::Plain);
    QCOMPARE(sharpener.next(true, false, us, bps, 360).step, StillSharpener::Step::Prepare);
  }

  // A 1080p screen's coded size as the link narrows and widens: the steps
  // seen at the end of each stretch.
  void theSizeFollowsTheLink_data() {
    QTest::addColumn<QList<Stretch>>("stretches");
    QTest::addColumn<QList<int>>("steps");
    using S = QList<Stretch>;
    using L = QList<int>;
    QTest::newRow("a fast link, a busy screen: the size stays") << S{{3000, 5000, 50}} << L{0};
    QTest::newRow("a narrow link, text still readable: the size stays") << S{{3000, 400, 40}} << L{0};
    QTest::newRow("a still screen on a very narrow link: the size stays") << S{{3000, 100, 0}} << L{0};
    QTest::newRow("narrow from the start: 3/4 once the estimate had its time to climb")
        << S{{2900, 400, 50}, {1000, 400, 50}} << L{0, 1};
    QTest::newRow("narrow, then narrower: 3/4, then 1/2") << S{{3500, 400, 50}, {1500, 150, 50}} << L{1, 2};
    QTest::newRow("the link comes back: up once held long enough")
        << S{{3500, 400, 50}, {2000, 2000, 30}, {3000, 2000, 30}} << L{1, 1, 0};
    QTest::newRow("a moment of room is not enough to go back up")
        << S{{3500, 450, 50}, {3000, 450, 50}, {1500, 2000, 50}, {1000, 450, 50}} << L{1, 1, 1, 1};
    QTest::newRow("a screen that stops goes back to its own size at once, to be sharpened")
        << S{{3500, 450, 50}, {4000, 450, 50}, {400, 450, 0}} << L{1, 1, 0};
    QTest::newRow("stopping and starting again soon: the next stop waits")
        << S{{3500, 450, 50}, {500, 450, 0}, {1500, 450, 50}, {500, 450, 0}} << L{1, 0, 1, 1};
    QTest::newRow("back up, but not for long: the next rise waits twice as long")
        << S{{3500, 400, 50}, {4000, 2000, 30}, {2000, 400, 50}, {6000, 2000, 30}, {3000, 2000, 30}}
        << L{1, 0, 1, 1, 0};
  }
  void theSizeFollowsTheLink() {
    QFETCH(QList<Stretch>, stretches);
    SizeLadder ladder;
    QList<int> steps;
    int64_t us = 0, changedUs = 0;
    for (const Stretch& s : stretches) {
      int changes = 0;
      for (const int64_t end = us + s.ms * 1000; us < end; us += 40'000) {
        const int before = ladder.step();
        if (s.qp) changedUs = us;
        ladder.next(1920, 1080, s.kbps * 1000, us, us - changedUs);
        changes += ladder.step() != before;
        if (s.qp) ladder.coded(s.qp, us);
      }
      QVERIFY2(changes <= 1, "one key frame at most per stretch");
      steps << ladder.step();
    }
    QTEST(steps, "steps");
    QCOMPARE(SizeLadder::scaled(1920, 1080, 1), std::make_pair(1440, 810));
    QCOMPARE(SizeLadder::scaled(1366, 767, 2), std::make_pair(684, 384));
  }

  void gaps_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<QList<int>>("ends");
    QTest::addColumn<QList<int>>("retries");
    using L = QList<int>;
    QTest::newRow("busy link, answered every 100 ms") << Link{} << L{} << L{} << L{};
    QTest::newRow("busy link, answered every 250 ms (a slow receiver)")
        << Link{.feedbackEveryMs = 250} << L{} << L{} << L{};
    QTest::newRow("still screen: one picture a second, answered") << Link{.sendEveryMs = 1000} << L{} << L{} << L{};
    QTest::newRow("nothing sent, nothing heard") << Link{.sendEveryMs = 0} << L{} << L{} << L{};
    QTest::newRow("long round trip, answered regularly") << Link{.roundTripMs = 700} << L{} << L{} << L{};
    // Last feedback at 1000; the packet sent at 1040 is the first unanswered;
    // a gap once 400 ms (round trip 100 + slack 300) have passed since.
    QTest::newRow("2 s blackout") << Link{.silentFromMs = 1001, .silentToMs = 3000} << L{1450} << L{3000} << L{};
    QTest::newRow("1 s blackout") << Link{.silentFromMs = 1001, .silentToMs = 2000, .untilMs = 2500} << L{1450}
                                  << L{2000} << L{};
    QTest::newRow("a silence shorter than the slack is no gap")
        << Link{.silentFromMs = 1001, .silentToMs = 1300} << L{} << L{} << L{};
    QTest::newRow("silence before the receiver ever answered (a session being set up)")
        << Link{.answerAfterMs = 2000} << L{} << L{} << L{};
    // Paused senders must still learn that the link is back: every 3 s they
    // send again, to pause again 400 ms later while nothing answers.
    QTest::newRow("a link gone for 8 s") << Link{.silentFromMs = 1001, .silentToMs = 9000, .untilMs = 9500}
                                         << L{1450, 4900, 8325} << L{9000} << L{4450, 7900};
    QTest::newRow("a 10 s round trip is not believed")
        << Link{.roundTripMs = 10'000, .silentFromMs = 1001, .silentToMs = 4000} << L{2350} << L{4000} << L{};
  }

  void gaps() {
    QFETCH(QList<int>, ends);
    QFETCH(QList<int>, retries);
    QFETCH(Link, link);
    const Seen seen = run(link);
    QCOMPARE(seen.retriesMs, retries);
    QTEST(seen.startsMs, "starts");
    QCOMPARE(seen.endsMs, ends);
    if (!ends.isEmpty() && retries.isEmpty()) QCOMPARE(seen.lastGapMs, ends.last() - 1040);  // from the first unanswered packet
  }

  // A receiver reports what arrived every 50 ms, from the oldest packet
  // that arrived since its last report (a late one makes it report again
  // the packets after it); the sender's library reads each report as it
  // does: a packet it has already heard of is skipped, and its delta with
  // it. What comes out must be each packet's arrival.
  void arrivalsSurviveReportsThatRepeatPackets_data() {
    QTest::addColumn<int>("jitterMs");
    QTest::addColumn<bool>("reorders");
    QTest::addColumn<int>("lossPercent");
    QTest::newRow("in order") << 15 << false << 0;
    QTest::newRow("each packet its own delay") << 15 << true << 0;
    QTest::newRow("each its own delay, 5 % lost") << 15 << true << 5;
  }
  void arrivalsSurviveReportsThatRepeatPackets() {
    QFETCH(int, jitterMs);
    QFETCH(bool, reorders);
    QFETCH(int, lossPercent);
    std::mt19937 random(7);
    std::map<int64_t, int64_t> arrivalUs;  // sequence → arrival, of what arrived
    int64_t lastUs = 0;
    for (int64_t seq = 1; seq <= 3000; ++seq) {
      const int64_t sentUs = seq / 4 * 10'000;  // bursts of four every 10 ms
      int64_t at = sentUs + 40'000 + int64_t(random() % (2 * jitterMs * 1000 + 1)) - jitterMs * 1000;
      if (!reorders) at = lastUs = std::max(lastUs, at);
      if (int(random() % 100) >= lossPercent) arrivalUs[seq] = at;
    }
    std::set<int64_t> reported;  // received and read by the library
    int64_t windowStart = 1, wrong = 0, worstUs = 0;
    FeedbackRepair repair;
    for (int64_t nowUs = 50'000; nowUs < 8'000'000; nowUs += 50'000) {
      int64_t highest = 0;
      for (const auto& [seq, at] : arrivalUs) {
        if (at > nowUs) continue;
        highest = std::max(highest, seq);
        if (!reported.count(seq)) windowStart = std::min(windowStart, seq);
      }
      if (highest < windowStart) continue;
      repair.beginFeedback();
      std::optional<int64_t> previousUs, offsetUs;
      for (int64_t seq = windowStart; seq <= highest; ++seq) {
        const auto it = arrivalUs.find(seq);
        if (it == arrivalUs.end() || it->second > nowUs) continue;
        const int64_t deltaUs = previousUs ? it->second - *previousUs : 0;
        previousUs = it->second;
        if (reported.count(seq)) continue;  // the library's skip, delta and all
        offsetUs = offsetUs ? *offsetUs + deltaUs : it->second;
        reported.insert(seq);
        const int64_t readUs = *offsetUs / 1000 * 1000;  // the library keeps whole milliseconds
        if (std::abs(readUs - it->second) > 1000) ++wrong;
        worstUs = std::max(worstUs, std::abs(repair.arrival(seq, readUs) - it->second));
      }
      windowStart = highest + 1;
    }
    QCOMPARE(int(reported.size()), int(arrivalUs.size()));
    QCOMPARE(wrong > 0, reorders);  // the story does what it says
    // The library's whole milliseconds, carried from one packet to the next.
    QVERIFY2(worstUs < 8'000, qPrintable(QString("off by %1 us").arg(worstUs)));
  }

  // Packets sent every 5 ms for 4 s, each delayed 40 ± `jitterMs` (in
  // order or not), 1 in `skipEvery` skipping the delay, and a queue growing
  // by `queueMsPerS` from 2 s: how far the delay told to the estimate
  // spreads in the first 2 s, and how much it rose by the end.
  void theEstimateSeesQueuesNotTheSpread_data() {
    QTest::addColumn<int>("jitterMs");
    QTest::addColumn<bool>("reorders");
    QTest::addColumn<int>("skipEvery");
    QTest::addColumn<int>("queueMsPerS");
    QTest::addColumn<int>("maxSpreadMs");
    QTest::addColumn<int>("minRiseMs");
    QTest::newRow("in order: as it came") << 15 << false << 0 << 0 << 30 << -30;
    QTest::newRow("each packet its own delay") << 15 << true << 0 << 0 << 4 << -4;
    QTest::newRow("and a tenth skipping it") << 15 << true << 10 << 0 << 4 << -4;
    QTest::newRow("a queue on a reordering link") << 15 << true << 0 << 100 << 4 << 120;
    QTest::newRow("a queue, a tenth skipping the delay") << 15 << true << 10 << 100 << 4 << 120;
    // One packet out of place (a duplicate, a feedback read askew) is no
    // reordering link.
    QTest::newRow("in order, one packet 60 ms early") << 0 << false << 0 << 0 << 60 << -60;
  }
  void theEstimateSeesQueuesNotTheSpread() {
    QFETCH(int, jitterMs);
    QFETCH(bool, reorders);
    QFETCH(int, skipEvery);
    QFETCH(int, queueMsPerS);
    std::mt19937 random(3);
    DelayFloor floor;
    std::vector<std::pair<int64_t, int64_t>> sent;  // send, arrival
    int64_t lastUs = 0;
    for (int64_t sendUs = 0; sendUs < 4'000'000; sendUs += 5'000) {
      const int64_t queueUs = std::max<int64_t>(0, sendUs - 2'000'000) * queueMsPerS / 1000;
      const bool skips = skipEvery && random() % skipEvery == 0;
      int64_t at = sendUs + queueUs + (skips ? 0 : 40'000 + int64_t(random() % (2 * jitterMs * 1000 + 1)) - jitterMs * 1000);
      if (!reorders) at = lastUs = std::max(lastUs, at);
      sent.emplace_back(sendUs, at);
    }
    if (QTest::currentDataTag() == QByteArray("in order, one packet 60 ms early")) sent[300].second -= 60'000;
    int64_t low = INT64_MAX, high = INT64_MIN, endUs = 0;
    for (size_t i = 0; i < sent.size(); i += 10) {  // a feedback every 50 ms, packets by sequence
      for (size_t j = i; j < std::min(sent.size(), i + 10); ++j) {
        const int64_t told = floor.arrival(sent[j].first, sent[j].second);
        if (!reorders) QCOMPARE(told, sent[j].second);
        const int64_t delay = told - sent[j].first;
        if (sent[j].first >= 500'000 && sent[j].first < 2'000'000) low = std::min(low, delay), high = std::max(high, delay);
        endUs = delay;
      }
    }
    QFETCH(int, maxSpreadMs);
    QFETCH(int, minRiseMs);
    QVERIFY2((high - low) / 1000 <= maxSpreadMs, qPrintable(QString("spread %1 ms").arg((high - low) / 1000)));
    QVERIFY2((endUs - high) / 1000 >= minRiseMs, qPrintable(QString("rise %1 ms").arg((endUs - high) / 1000)));
  }

  // A probe's burst into a narrow link that reorders: 20 packets 1 ms
  // apart, each queued 3 ms more than the one before, after a second of
  // the link's usual spread. The queue must show beyond the spread, or the
  // probe would read as passing at its full rate.
  void aProbeIntoAQueueShows() {
    std::mt19937 random(5);
    DelayFloor floor;
    auto spread = [&] { return 40'000 + int64_t(random() % 30'001) - 15'000; };
    for (int64_t sendUs = 0; sendUs < 1'000'000; sendUs += 5'000) floor.arrival(sendUs, sendUs + spread());
    int64_t first = 0, last = 0;
    for (int i = 0; i < 20; ++i) {
      const int64_t sendUs = 1'000'000 + i * 1'000;
      const int64_t told = floor.arrival(sendUs, sendUs + spread() + i * 3'000) - sendUs;
      (i == 0 ? first : last) = told;
    }
    QVERIFY2(last - first >= 20'000, qPrintable(QString("rise %1 ms").arg((last - first) / 1000)));
  }

  // Whether a picture at `atMs` gets room: the link reports `percent` loss
  // every 200 ms from 0 to `lossUntilMs` (and `spikes` reports of 8 % from
  // 1 s), none after; the viewer's last input at `inputMs` (0: none).
  void playoutRoomWhileTheViewerOnlyWatchesALossyLink_data() {
    QTest::addColumn<double>("percent");
    QTest::addColumn<int>("spikes");
    QTest::addColumn<int>("lossUntilMs");
    QTest::addColumn<int>("inputMs");
    QTest::addColumn<int>("atMs");
    QTest::addColumn<bool>("room");
    QTest::newRow("a clean link") << 0.0 << 0 << 10'000 << 0 << 10'000 << false;
    QTest::newRow("1 % loss") << 1.0 << 0 << 10'000 << 0 << 10'000 << false;
    QTest::newRow("1 % loss and two spikes") << 1.0 << 2 << 10'000 << 0 << 1'400 << false;
    QTest::newRow("5 % loss, within 2 s") << 5.0 << 0 << 10'000 << 0 << 2'000 << true;
    QTest::newRow("5 % loss, not at once") << 5.0 << 0 << 10'000 << 0 << 400 << false;
    QTest::newRow("5 % loss while the viewer types") << 5.0 << 0 << 10'000 << 9'000 << 10'000 << false;
    QTest::newRow("5 % loss, the viewer stopped 2 s ago") << 5.0 << 0 << 10'000 << 8'000 << 10'000 << true;
    QTest::newRow("5 % loss, then 1 s clean") << 5.0 << 0 << 10'000 << 0 << 11'000 << true;
    QTest::newRow("5 % loss, then 5 s clean") << 5.0 << 0 << 10'000 << 0 << 15'000 << false;
  }
  void playoutRoomWhileTheViewerOnlyWatchesALossyLink() {
    QFETCH(double, percent);
    QFETCH(int, spikes);
    QFETCH(int, lossUntilMs);
    QFETCH(int, inputMs);
    QFETCH(int, atMs);
    PlayoutRoom playout;
    for (int ms = 0; ms <= atMs; ms += 200) {
      const bool spike = ms >= 1000 && ms < 1000 + spikes * 200;
      playout.lossReported(float((spike ? 8.0 : ms <= lossUntilMs ? percent : 0.0) / 100), int64_t(ms) * 1000);
    }
    const PlayoutRoom::Delay delay = playout.delay(int64_t(atMs) * 1000, int64_t(inputMs) * 1000);
    QTEST(delay == PlayoutRoom::kRoom, "room");
    QVERIFY(delay == PlayoutRoom::kRoom || delay == PlayoutRoom::kNone);
  }
};

QTEST_GUILESS_MAIN(RtcUnitsTest)
#include "rtc_units_test.moc"
