// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "rtc/link_gap.h"

using namespace lunor::rtc;

namespace {

// A link's life in milliseconds: packets sent every `sendEveryMs` (0: none),
// feedback for them arriving `answerAfterMs` later every `feedbackEveryMs`,
// except in [silentFromMs, silentToMs) where nothing comes back; the
// controller ticks every 25 ms.
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

}  // namespace

Q_DECLARE_METATYPE(Link)

class LinkGapTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
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
};

QTEST_GUILESS_MAIN(LinkGapTest)
#include "link_gap_test.moc"
