// SPDX-License-Identifier: GPL-3.0-or-later
// Host and client sessions in one process, through the real lunor-signal and
// real WebRTC over loopback: video, the control channel, quality and displays.

#include <QRegularExpression>
#include <QtTest>

#include "protocol/control_message.h"

#include "recording_rtc.h"
#include "session_probe.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "signal_server_process.h"

using namespace lunor;
using lunor::test::RecordingFactory;
using lunor::test::RtcRecord;

namespace {

constexpr char kRoom[] = "771203948";

// A side on the real WebRTC, recording what passes through it.
struct Side : test::SessionSide {
  explicit Side(const QUrl& server, std::shared_ptr<RtcRecord> record = std::make_shared<RtcRecord>())
      : SessionSide(server, [record] { return std::make_unique<RecordingFactory>(rtc::createWebRtcFactory(), record); }),
        record(std::move(record)) {}
  std::shared_ptr<RtcRecord> record;
};

// The codec of the first payload type on the m=video line.
QString firstVideoCodec(const QString& sdp) {
  const auto line = QRegularExpression(R"(m=video \d+ [A-Z/]+ (\d+))").match(sdp);
  if (!line.hasMatch()) return {};
  const auto rtpmap =
      QRegularExpression(QStringLiteral("a=rtpmap:%1 ([A-Za-z0-9]+)/").arg(line.captured(1))).match(sdp);
  return rtpmap.hasMatch() ? rtpmap.captured(1) : QString();
}

// The ICE user fragment of a description.
QString iceUfrag(const std::string& sdp) {
  return QRegularExpression("a=ice-ufrag:(\\S+)").match(QString::fromStdString(sdp)).captured(1);
}

}  // namespace

class MediaFlowTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void sessionCarriesVideoControlAndQuality() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Side host(server.url());
    Side client(server.url());
    // A 1080p main display and a 720p second one.
    host.environment.displayList = StaticDisplayList({{1, 1920, 1080, QRect(0, 0, 1920, 1080)},
                                                      {2, 1280, 720, QRect(1920, 0, 1280, 720)}});
    RemoteSession& h = *host.session;
    RemoteSession& c = *client.session;
    QVERIFY(test::meet(h, c, kRoom));

    // Video, first at the display's size, then at the profile's size, in H264.
    test::FrameCounter counter(c.remoteVideoTrack());
    QVERIFY(counter.waitForMore(3));
    QCOMPARE(counter.size(), QSize(1920, 1080));
    // The client says once that it shows the picture (the host's key frames stop).
    const auto pictureWords = [&] {
      const auto sent = client.record->sentSnapshot();
      return std::count(sent.begin(), sent.end(), std::string(kPictureShownMessage));
    };
    QTRY_COMPARE(pictureWords(), 1);
    c.requestQuality("low");
    QTRY_COMPARE_WITH_TIMEOUT(counter.size(), QSize(1280, 720), 30000);
    QCOMPARE(host.record->formatsSnapshot().back(), std::string("1280x720@15"));
    QTRY_COMPARE(c.connectionState(), QString("connecté ✓"));
    QTRY_COMPARE(c.remoteVideoSize(), QSize(1920, 1080));
    QTRY_COMPARE(c.availableDisplays().size(), 2);
    QCOMPARE(c.availableDisplays().at(1).toMap().value("resolution").toString(), QString("1280x720"));
    const auto answers = host.record->remoteSnapshot();
    QVERIFY(!answers.empty());
    QCOMPARE(firstVideoCodec(QString::fromStdString(answers.back())), QString("H264"));
    QTRY_VERIFY(host.logged("📝 SDP: bitrate forcé à 8000kbps"));

    // Control messages reach the injector in order, with their values.
    QTRY_VERIFY_WITH_TIMEOUT(c.isControlChannelOpen(), 10000);
    const QList<QVariantMap> messages{
        {{"t", "move"}, {"x", 0.1}, {"y", 0.2}, {"displayIndex", 0}},
        {{"t", "mdown"}, {"b", 0}, {"x", 0.25}, {"y", 0.5}, {"displayIndex", 0}},
        {{"t", "drag"}, {"b", 0}, {"x", 0.3}, {"y", 0.5}, {"displayIndex", 0}},
        {{"t", "mup"}, {"b", 0}, {"x", 0.35}, {"y", 0.5}, {"displayIndex", 0}},
        {{"t", "scroll"}, {"x", 0.5}, {"y", 0.5}, {"dx", 0}, {"dy", 120}, {"displayIndex", 0}},
        {{"t", "doubleclick"}, {"b", 1}, {"x", 0.9}, {"y", 0.9}, {"displayIndex", 0}},
        {{"t", "keydown"}, {"keyCode", 0}, {"displayIndex", 0}},
        {{"t", "keyup"}, {"keyCode", 0}, {"displayIndex", 0}},
        {{"t", "mod"}, {"k", "shift"}, {"d", true}},
    };
    for (const auto& message : messages) c.sendControl(message);
    const QStringList expected{"move(192,216)",  "button(L,1,480,540)",  "drag(L,576,540)",
                               "button(L,0,672,540)", "scroll(960,540,0,120)", "doubleClick(R)",
                               "key(0,1)",       "key(0,0)",             "mod(shift,1)"};
    QTRY_COMPARE_WITH_TIMEOUT(host.injected().mid(0, expected.size()), expected, 10000);

    // "quality" epic: sender limits, source format, geometry answer.
    c.requestQuality("epic");
    QTRY_VERIFY(host.logged("🎛️ Qualité = epic → 2560x1440 @60fps (bitrate: 30Mbps)"));
    QTRY_VERIFY(host.logged("🚀 Bitrate MAJ: min=7Mbps max=30Mbps"));
    // Never larger than the display (1920 x 1080) the profile's 1440p applies to.
    QCOMPARE(host.record->formatsSnapshot().back(), std::string("1920x1080@60"));
    QCOMPARE(h.currentQuality(), QualityProfile::Epic);
    // The answer carries the display's native size, not the profile's.
    QTRY_VERIFY(c.logs().filter("📐 videoGeometry reçu: 1920x1080 (display 0)").size() >= 2);
    QTRY_COMPARE_WITH_TIMEOUT(counter.width.load(), 1920, 30000);

    // A switch past the list does nothing on the host.
    c.requestDisplaySwitch(2);
    QTest::qWait(500);
    QCOMPARE(h.currentDisplayIndex(), 0);
    QVERIFY(h.logs().filter("Switch vers écran").isEmpty());

    // Hard refresh restarts the capture and ICE: a new offer with new
    // credentials, answered by the client, and the picture keeps coming.
    const int starts = host.environment.capturers.back()->startCount();
    const size_t offers = host.record->localSnapshot().size();
    const int answersSent = test::loggedCount(c, "✅ Answer envoyée");
    c.requestHardRefresh();
    QTRY_VERIFY(host.logged("♻️ Restart capture vidéo"));
    QTRY_COMPARE(host.environment.capturers.back()->startCount(), starts + 1);
    QTRY_VERIFY_WITH_TIMEOUT(host.record->localSnapshot().size() > offers, 10000);
    const auto local = host.record->localSnapshot();
    QVERIFY(iceUfrag(local.back()) != iceUfrag(local.front()));
    QTRY_VERIFY_WITH_TIMEOUT(client.record->remoteSnapshot().size() >= 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(test::loggedCount(c, "✅ Answer envoyée"), answersSent + 1, 10000);
    QVERIFY(counter.waitForMore(10, 20000));
    QCOMPARE(c.connectionState(), QString("connecté ✓"));

    // A real switch moves the capture and the pointer to the second display.
    c.requestDisplaySwitch(1);
    QTRY_COMPARE(h.currentDisplayIndex(), 1);
    QTRY_VERIFY(host.injected().contains("move(2560,360)"));
    QTRY_COMPARE_WITH_TIMEOUT(c.remoteVideoSize(), QSize(1280, 720), 10000);

    c.stop("Session terminée par le client");
    QTRY_COMPARE_WITH_TIMEOUT(h.endReason(), QString("Session terminée par le client"), 10000);
  }
};

QTEST_GUILESS_MAIN(MediaFlowTest)
#include "media_flow_test.moc"
