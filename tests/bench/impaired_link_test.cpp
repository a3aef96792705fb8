// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-impair's decisions on a simulated clock: delays stay in their
// bounds and in order unless reordering is asked for, the rate cap's queue
// drops at its tail, blackouts cover their window exactly, equal release
// times keep the arrival order; and what it reads in relayed datagrams.

#include <QtTest>

#include "impaired_link.h"
#include "relayed_datagram.h"

using namespace lunor::bench;

namespace {

constexpr int64_t kMs = 1000;

QByteArray be16(int v) { return QByteArray(1, char(v >> 8)) + char(v & 0xFF); }
QByteArray be32(uint32_t v) { return be16(int(v >> 16)) + be16(int(v & 0xFFFF)); }

// An RTP header (no payload needed to classify it).
QByteArray rtp(int payloadType, uint32_t ssrc, bool padding = false) {
  return QByteArray(1, char(0x80 | (padding ? 0x20 : 0))) + char(payloadType) + be16(7) + be32(1234) + be32(ssrc) +
         QByteArray(20, 'x');
}
// The first RTCP packet's header of a datagram.
QByteArray rtcp(int packetType, int format, uint32_t sender) {
  return QByteArray(1, char(0x80 | format)) + char(packetType) + be16(3) + be32(sender) + QByteArray(8, 'y');
}
QByteArray channelData(const QByteArray& payload, int extraLength = 0) {
  return be16(0x4001) + be16(int(payload.size()) + extraLength) + payload;
}
QByteArray attribute(int type, const QByteArray& value) {
  QByteArray a = be16(type) + be16(int(value.size())) + value;
  return a + QByteArray((4 - value.size() % 4) % 4, '\0');
}
QByteArray stun(int type, const QByteArray& attributes) {
  return be16(type) + be16(int(attributes.size())) + be32(0x2112A442) + QByteArray(12, 't') + attributes;
}
const QByteArray kPeerAddress = attribute(0x0012, QByteArray::fromHex("0001a1b25e12a443"));

}  // namespace

class ImpairedLinkTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void delaysStayInBoundsAndInOrderUnlessAsked_data() {
    QTest::addColumn<bool>("jitterReorders");
    QTest::addColumn<double>("reorderPercent");
    QTest::addColumn<bool>("mayOvertake");
    QTest::newRow("jitter in order") << false << 0.0 << false;
    QTest::newRow("each its own delay") << true << 0.0 << true;
    QTest::newRow("a quarter skip the delay") << false << 25.0 << true;
  }
  void delaysStayInBoundsAndInOrderUnlessAsked() {
    QFETCH(bool, jitterReorders);
    QFETCH(double, reorderPercent);
    LinkConditions c;
    c.delayMs = 40;
    c.jitterMs = 15;
    c.jitterReorders = jitterReorders;
    c.reorderPercent = reorderPercent;
    ImpairedLink link(c, 7);
    // A datagram a millisecond, 4000 of them.
    int overtakes = 0, skipped = 0;
    int64_t latestRelease = 0;
    int64_t latestDelayed = 0;  // of those that did not skip the delay
    for (int64_t i = 0; i < 4000; ++i) {
      const int64_t at = i * kMs;
      const Fate fate = link.admit(at, 1200);
      QCOMPARE(fate.drop, DropReason::None);
      if (fate.releaseUs < latestRelease) ++overtakes;
      latestRelease = std::max(latestRelease, fate.releaseUs);
      if (fate.releaseUs == at) {
        ++skipped;
        continue;
      }
      QVERIFY2(fate.releaseUs >= at + 25 * kMs && fate.releaseUs <= at + 55 * kMs, qPrintable(QString::number(i)));
      if (!jitterReorders) QVERIFY(fate.releaseUs >= latestDelayed);
      latestDelayed = fate.releaseUs;
    }
    QTEST(overtakes > 0, "mayOvertake");
    // 25 % of 4000 is 1000; the binomial's spread is about 27.
    QVERIFY2(std::abs(skipped - int(reorderPercent * 40)) < 150, qPrintable(QString::number(skipped)));
  }

  // The loss rate holds whether losses come alone or in runs, and runs are
  // as long as asked on average.
  void lossKeepsItsRateAloneOrInRuns_data() {
    QTest::addColumn<double>("burst");
    QTest::newRow("each on its own") << 1.0;
    QTest::newRow("runs of 5") << 5.0;
  }
  void lossKeepsItsRateAloneOrInRuns() {
    QFETCH(double, burst);
    LinkConditions c;
    c.lossPercent = 2;
    c.lossBurst = burst;
    ImpairedLink link(c, 3);
    int lost = 0, runs = 0;
    bool previous = false;
    for (int64_t i = 0; i < 100'000; ++i) {
      const bool now = link.admit(i * kMs, 1200).drop == DropReason::Loss;
      lost += now;
      runs += now && !previous;
      previous = now;
    }
    QVERIFY2(std::abs(lost - 2000) < 300, qPrintable(QString::number(lost)));
    const double meanRun = double(lost) / runs;
    QVERIFY2(std::abs(meanRun - burst) < burst * 0.2 + 0.1, qPrintable(QString::number(meanRun)));
  }

  void rateCapQueuesThenDropsAtTheTail_data() {
    QTest::addColumn<double>("queueMs");
    QTest::addColumn<int>("admitted");
    // Ten datagrams at once, 10 ms each at the cap: the queue holds what it
    // can send within queueMs; a datagram alone always passes.
    QTest::newRow("no queue") << 0.0 << 1;
    QTest::newRow("50 ms: five") << 50.0 << 5;
    QTest::newRow("49 ms: four") << 49.0 << 4;
    QTest::newRow("a long queue: all") << 1000.0 << 10;
  }
  void rateCapQueuesThenDropsAtTheTail() {
    QFETCH(double, queueMs);
    QFETCH(int, admitted);
    LinkConditions c;
    c.rateKbps = 1000;
    c.queueMs = queueMs;
    c.delayMs = 5;
    ImpairedLink link(c, 1);
    // 1222 bytes and 28 of headers: 10 000 bits, 10 ms at 1000 kbit/s.
    int passed = 0;
    for (int i = 0; i < 10; ++i) {
      const Fate fate = link.admit(0, 1222);
      if (fate.drop == DropReason::None) {
        ++passed;
        QCOMPARE(fate.releaseUs, (10 * passed + 5) * kMs);
      } else {
        QCOMPARE(fate.drop, DropReason::Queue);
      }
    }
    QCOMPARE(passed, admitted);
    // Once the queue has drained, the next one goes straight through.
    const int64_t later = 10 * kMs * admitted + 100 * kMs;
    QCOMPARE(link.admit(later, 1222).releaseUs, later + 15 * kMs);
  }

  void lossDropsItsShare() {
    for (const double lossPercent : {0.0, 5.0, 100.0}) {
      LinkConditions c;
      c.lossPercent = lossPercent;
      ImpairedLink link(c, 3);
      int lost = 0;
      for (int i = 0; i < 20000; ++i) {
        const Fate fate = link.admit(i * kMs, 100);
        if (fate.drop == DropReason::Loss)
          ++lost;
        else
          QCOMPARE(fate.releaseUs, i * kMs);
      }
      // 5 % of 20 000 is 1000; the binomial's spread is about 31.
      QVERIFY2(std::abs(lost - int(lossPercent * 200)) < 150, qPrintable(QString("%1 %: %2").arg(lossPercent).arg(lost)));
    }
  }

  // Dark from 1000 ms to 3000 ms: its start in, its end out.
  void blackoutCoversItsWindow() {
    Blackouts blackouts;
    blackouts.add(1000 * kMs, 3000 * kMs);
    LinkConditions c;
    c.delayMs = 40;
    ImpairedLink link(c, 1, &blackouts);
    const std::pair<int64_t, bool> times[] = {{999, false}, {1000, true}, {2999, true}, {3000, false}};
    for (const auto& [atMs, dark] : times) {
      QCOMPARE(blackouts.dark(atMs * kMs), dark);
      QCOMPARE(link.admit(atMs * kMs, 100).drop, dark ? DropReason::Blackout : DropReason::None);
    }
  }

  void releaseQueueKeepsArrivalOrderAtEqualTimes() {
    ReleaseQueue<int> queue;
    // Pushed out of time order; 2, 3 and 4 due at the same time.
    queue.push(30, 5);
    queue.push(20, 2);
    queue.push(20, 3);
    queue.push(10, 1);
    queue.push(20, 4);
    QCOMPARE(queue.nextUs(), int64_t(10));
    QCOMPARE(queue.popDue(9), std::nullopt);
    QList<int> order;
    while (auto item = queue.popDue(25)) order << *item;
    QCOMPARE(order, (QList<int>{1, 2, 3, 4}));
    QCOMPARE(queue.size(), size_t(1));
    QCOMPARE(queue.popDue(30), std::optional<int>(5));
    QVERIFY(queue.empty());
  }

  // What the relay reads in a datagram, in short: "other", or the kind, the
  // packet type and the SSRC, with "padding" or the feedback it carries.
  void classifiesRelayedDatagrams_data() {
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("read");
    QTest::newRow("RTP in ChannelData") << channelData(rtp(102, 0xAABBCCDD)) << "rtp 102 2864434397";
    QTest::newRow("padding on RTX, marker set") << channelData(rtp(0x80 | 103, 77, true)) << "rtp 103 77 padding";
    QTest::newRow("NACK in a Send indication")
        << stun(0x0016, kPeerAddress + attribute(0x0013, rtcp(205, 1, 9))) << "rtcp 205 9 nack";
    QTest::newRow("PLI in a Data indication, odd-sized attribute first")
        << stun(0x0017, attribute(0x8022, "abc") + attribute(0x0013, rtcp(206, 1, 9))) << "rtcp 206 9 pli";
    QTest::newRow("FIR") << channelData(rtcp(206, 4, 9)) << "rtcp 206 9 fir";
    QTest::newRow("receiver report") << channelData(rtcp(201, 1, 9)) << "rtcp 201 9";
    QTest::newRow("a binding request") << stun(0x0001, kPeerAddress) << "other";
    QTest::newRow("DTLS in ChannelData") << channelData(QByteArray(1, char(22)) + QByteArray(40, 'd')) << "other";
    QTest::newRow("ChannelData longer than the datagram") << channelData(rtp(102, 5), 1) << "other";
    QTest::newRow("DATA attribute running past the message")
        << stun(0x0016, be16(0x0013) + be16(400) + rtcp(205, 1, 9)) << "other";
    QTest::newRow("a Send indication without the cookie")
        << (be16(0x0016) + be16(int(kPeerAddress.size())) + be32(0) + QByteArray(12, 't') + kPeerAddress) << "other";
  }
  void classifiesRelayedDatagrams() {
    QFETCH(QByteArray, datagram);
    const RelayedDatagram d =
        classifyRelayed(reinterpret_cast<const uint8_t*>(datagram.constData()), size_t(datagram.size()));
    QString read = "other";
    if (d.kind != RelayedDatagram::Kind::Other) {
      read = QString("%1 %2 %3").arg(d.kind == RelayedDatagram::Kind::Rtp ? "rtp" : "rtcp").arg(d.packetType).arg(d.ssrc);
      const std::pair<bool, const char*> flags[] = {
          {d.padding, " padding"}, {d.isNack(), " nack"}, {d.isPli(), " pli"}, {d.isFir(), " fir"}};
      for (const auto& [set, word] : flags) {
        if (set) read += word;
      }
    }
    QTEST(read, "read");
  }
};

QTEST_GUILESS_MAIN(ImpairedLinkTest)
#include "impaired_link_test.moc"
