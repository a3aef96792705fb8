// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "protocol/sdp_rewrite.h"

using namespace lunor;

namespace {

const QString kVideoSection =
    "v=0\r\n"
    "m=audio 9 RTP/SAVPF 111\r\n"
    "a=rtpmap:111 opus/48000/2\r\n"
    "m=video 9 RTP/SAVPF 100 101 116\r\n"
    "c=IN IP4 0.0.0.0\r\n"
    "a=rtpmap:100 VP8/90000\r\n"
    "a=rtpmap:101 VP9/90000\r\n"
    "a=rtpmap:116 H264/90000\r\n";

}  // namespace

class SdpRewriteTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void rewrites_data() {
    QTest::addColumn<QString>("sdp");
    QTest::addColumn<int>("profile");
    QTest::addColumn<QString>("videoLine");
    QTest::addColumn<bool>("bandwidth");

    // Every rtpmap line counts, the audio one too.
    QTest::newRow("H264 moves first") << kVideoSection << int(QualityProfile::Medium)
                                      << "m=video 9 RTP/SAVPF 116 111 100 101\r" << true;
    QTest::newRow("other transport token is left alone")
        << QString(kVideoSection).replace("m=video 9 RTP/SAVPF", "m=video 9 UDP/TLS/RTP/SAVPF")
        << int(QualityProfile::High) << "m=video 9 UDP/TLS/RTP/SAVPF 100 101 116\r" << true;
    QTest::newRow("no H264 at all")
        << QString(kVideoSection).remove("a=rtpmap:116 H264/90000\r\n") << int(QualityProfile::Low)
        << "m=video 9 RTP/SAVPF 100 101 116\r" << true;
    QTest::newRow("no video") << QString("v=0\r\nm=audio 9 RTP/SAVPF 111\r\n")
                              << int(QualityProfile::Epic) << QString() << false;
  }
  void rewrites() {
    QFETCH(QString, sdp);
    QFETCH(int, profile);
    QFETCH(QString, videoLine);
    QFETCH(bool, bandwidth);
    const QualitySettings& quality = settingsOf(static_cast<QualityProfile>(profile));
    bool added = !bandwidth;
    const QString result = rewriteOfferSdp(sdp, quality, &added);
    QCOMPARE(added, bandwidth);
    if (!bandwidth) {
      QCOMPARE(result, sdp);
      return;
    }
    const QStringList lines = result.split('\n');
    const qsizetype video = lines.indexOf(videoLine);
    QVERIFY2(video >= 0, qPrintable(result));
    QCOMPARE(lines.at(video + 1), QString("b=AS:%1").arg(quality.sdpBandwidthKbps));
    QCOMPARE(lines.at(video + 2), QString("b=TIAS:%1").arg(quality.maxBitrateBps));
    // Untouched lines keep their CR LF; only the two new lines end in LF alone.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
      if (i == video + 1 || i == video + 2) continue;
      QVERIFY2(lines.at(i).endsWith('\r'), qPrintable(lines.at(i)));
    }
  }

  void highProfileAndOnlyTheFirstVideoSection() {
    const QString sdp = kVideoSection + "m=video 9 RTP/SAVPF 100\r\n";
    const QString result = rewriteOfferSdp(sdp, settingsOf(QualityProfile::High));
    QCOMPARE(result.count("b=AS:15000\n"), 1);
    QCOMPARE(result.count("b=TIAS:15000000\n"), 1);
  }
};

QTEST_GUILESS_MAIN(SdpRewriteTest)
#include "sdp_rewrite_test.moc"
