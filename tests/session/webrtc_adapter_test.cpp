// SPDX-License-Identifier: GPL-3.0-or-later
// The library-backed adapter's refusals, loopback and certificate (the rest
// runs end to end in the feature flow test).

#include <algorithm>
#include <atomic>
#include <mutex>

#include <QtTest>

#include "protocol/password_proof.h"
#include "rtc/webrtc/webrtc_factory.h"

using namespace lunor::rtc;

namespace {

// Keeps the candidates a connection gathers; hears nothing else.
struct Gatherer final : PeerConnectionObserver {
  void onIceConnectionChange(IceConnectionState) override {}
  void onIceCandidate(const IceCandidate& c) override {
    std::lock_guard lock(mutex);
    candidates.push_back(c.sdp);
  }
  void onVideoTrack(std::shared_ptr<VideoTrack>) override {}
  void onDataChannel(std::shared_ptr<DataChannel>) override {}
  bool any(const std::function<bool(const std::string&)>& test) {
    std::lock_guard lock(mutex);
    return std::any_of(candidates.begin(), candidates.end(), test);
  }
  std::mutex mutex;
  std::vector<std::string> candidates;
};

// The luma of the middle of the newest picture a track showed.
struct LumaSink final : VideoSink {
  void onFrame(const I420FrameView& frame) override {
    luma = frame.y[static_cast<size_t>(frame.height / 2) * frame.strideY + frame.width / 2];
    ++frames;
  }
  std::atomic<int> luma{-1};
  std::atomic<int> frames{0};
};

// A BGRX screen of one grey.
struct Screen {
  explicit Screen(uint8_t grey) : pixels(64 * 48 * 4, grey) {}
  VideoFrameView view(int64_t timestampUs) const { return {pixels.data(), 64, 48, 64 * 4, timestampUs}; }
  std::vector<uint8_t> pixels;
};

}  // namespace

class WebRtcAdapterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void badDescriptionIsReportedNotFatal() {
    auto factory = createWebRtcFactory();
    QVERIFY(factory);
    Gatherer quiet;
    auto pc = factory->createPeerConnection({}, {}, &quiet);
    QVERIFY(pc);
    std::atomic<int> errors{0};
    const auto refused = [&](Error e) {
      if (!e.ok()) ++errors;
    };
    pc->setRemoteDescription({SdpType::Offer, "this is not SDP"}, refused);
    pc->setRemoteDescription({SdpType::Answer, "v=0\r\n"}, refused);
    pc->addIceCandidate({"candidate:garbage", std::string("0"), 0}, refused);
    QTRY_COMPARE(errors.load(), 3);
    pc->setObserver(nullptr);
  }

  // A real session gathers no candidate on loopback (it would try its relay
  // from there); only a test that asks for it does.
  void loopbackOnlyWhenAskedFor_data() {
    QTest::addColumn<std::optional<bool>>("allow");
    QTest::addColumn<bool>("onLoopback");
    QTest::newRow("as shipped") << std::optional<bool>() << false;
    QTest::newRow("asked for") << std::optional<bool>(true) << true;
  }
  void loopbackOnlyWhenAskedFor() {
    QFETCH(std::optional<bool>, allow);
    QFETCH(bool, onLoopback);
    qunsetenv("LUNOR_ICE_LOOPBACK");
    auto factory = createWebRtcFactory({.allowLoopback = allow});
    QVERIFY(factory);
    Gatherer gatherer;
    auto pc = factory->createPeerConnection({}, {}, &gatherer);
    QVERIFY(pc && pc->createDataChannel("control", true));
    pc->createOffer({}, [pc](std::optional<SessionDescription> offer, Error) {
      if (offer) pc->setLocalDescription(*offer, [](Error) {});
    });
    const auto loopback = [](const std::string& c) {
      return c.find(" 127.0.0.1 ") != std::string::npos || c.find(" ::1 ") != std::string::npos;
    };
    QTRY_VERIFY(gatherer.any([](const std::string&) { return true; }) || !onLoopback);
    QTest::qWait(onLoopback ? 0 : 1500);
    if (onLoopback) QTRY_VERIFY(gatherer.any(loopback));
    QCOMPARE(gatherer.any(loopback), onLoopback);
    pc->setObserver(nullptr);
    pc->close();
  }

  // The screen's newest state is what a still screen's repeat shows, even
  // when the source did not send it (nobody watched, before the sender is
  // up; or it came too soon after the one before) and the screen has not
  // changed since: nothing else would ever show it.
  void aRepeatShowsThePictureNotSentYet_data() {
    QTest::addColumn<bool>("watched");
    QTest::newRow("nobody watching") << false;
    QTest::newRow("over the frame rate") << true;
  }
  void aRepeatShowsThePictureNotSentYet() {
    QFETCH(bool, watched);
    auto factory = createWebRtcFactory();
    QVERIFY(factory);
    const auto source = factory->createVideoSource();
    const auto track = factory->createVideoTrack(source, "screen");
    QVERIFY(source && track);
    source->adaptOutputFormat(64, 48, 2);  // a picture every 500 ms at most
    LumaSink sink;
    QVERIFY(!source->repeatLastFrame(1'000));  // nothing yet
    track->addSink(&sink);
    source->pushFrame(Screen(40).view(10'000));
    QTRY_COMPARE(sink.frames.load(), 1);
    if (!watched) track->removeSink(&sink);
    source->pushFrame(Screen(200).view(100'000));  // not sent
    if (!watched) track->addSink(&sink);
    QTest::qWait(50);
    QCOMPARE(sink.frames.load(), 1);
    QVERIFY(source->repeatLastFrame(2'000'000));
    QTRY_COMPARE(sink.frames.load(), 2);
    QVERIFY2(sink.luma > 150, qPrintable(QString::number(sink.luma)));
    QVERIFY(source->repeatLastFrame(4'000'000));  // and after, the same picture again
    QTRY_COMPARE(sink.frames.load(), 3);
    QVERIFY(sink.luma > 150);
    track->removeSink(&sink);
  }

  // The certificate named before any connection is the one every offer
  // of the factory carries, and no other factory's.
  void everyConnectionPresentsTheFactorysCertificate() {
    auto factory = createWebRtcFactory();
    QVERIFY(factory);
    const QByteArray named = QByteArray::fromStdString(factory->certificateFingerprint());
    QVERIFY2(lunor::proof::isFingerprint(named), named.constData());
    QVERIFY(named != QByteArray::fromStdString(createWebRtcFactory()->certificateFingerprint()));
    Gatherer quiet;
    for (int i = 0; i < 2; ++i) {
      auto pc = factory->createPeerConnection({}, {}, &quiet);
      QVERIFY(pc && pc->createDataChannel("control", true));
      std::mutex mutex;
      std::string sdp;
      pc->createOffer({}, [&](std::optional<SessionDescription> offer, Error) {
        std::lock_guard lock(mutex);
        sdp = offer ? offer->sdp : "none";
      });
      QTRY_VERIFY([&] { std::lock_guard lock(mutex); return !sdp.empty(); }());
      QCOMPARE(lunor::proof::sdpFingerprint(sdp), named);
      pc->setObserver(nullptr);
      pc->close();
    }
  }
};

QTEST_GUILESS_MAIN(WebRtcAdapterTest)
#include "webrtc_adapter_test.moc"
