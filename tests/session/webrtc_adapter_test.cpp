// SPDX-License-Identifier: GPL-3.0-or-later
// The library-backed adapter refuses bad input through its completions.
// (Negotiation, the channel and video over it are exercised end to end by
// the media flow test.)

#include <atomic>

#include <QtTest>

#include "rtc/webrtc/webrtc_factory.h"

using namespace lunor::rtc;

class WebRtcAdapterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void badDescriptionIsReportedNotFatal() {
    auto factory = createWebRtcFactory();
    QVERIFY(factory);
    struct Quiet final : PeerConnectionObserver {
      void onIceConnectionChange(IceConnectionState) override {}
      void onIceCandidate(const IceCandidate&) override {}
      void onVideoTrack(std::shared_ptr<VideoTrack>) override {}
      void onDataChannel(std::shared_ptr<DataChannel>) override {}
    } quiet;
    auto pc = factory->createPeerConnection({}, {}, &quiet);
    QVERIFY(pc);
    std::atomic<int> errors{0};
    pc->setRemoteDescription({SdpType::Offer, "this is not SDP"}, [&](Error e) {
      if (!e.ok()) ++errors;
    });
    pc->setRemoteDescription({SdpType::Answer, "v=0\r\n"}, [&](Error e) {
      if (!e.ok()) ++errors;
    });
    pc->addIceCandidate({"candidate:garbage", std::string("0"), 0}, [&](Error e) {
      if (!e.ok()) ++errors;
    });
    QTRY_COMPARE(errors.load(), 3);
    pc->setObserver(nullptr);
  }
};

QTEST_GUILESS_MAIN(WebRtcAdapterTest)
#include "webrtc_adapter_test.moc"
