// Two real peer connections in one process, over loopback: negotiation,
// the "control" channel and screen video through our adapter.

#include <atomic>
#include <mutex>

#include <QTimer>
#include <QtTest>

#include "session/rtc/webrtc/webrtc_factory.h"

using namespace lunor::rtc;

namespace {

// Collects what one side's library reports; called on library threads.
class Side final : public PeerConnectionObserver, public DataChannelObserver, public VideoSink {
 public:
  std::shared_ptr<PeerConnection> pc;
  Side* other = nullptr;

  std::atomic<IceConnectionState> ice{IceConnectionState::New};
  std::atomic<int> frames{0};
  std::atomic<int> frameWidth{0};
  std::atomic<int> frameHeight{0};
  std::atomic<int> centreBlue{-1};
  std::atomic<bool> channelOpen{false};

  std::mutex mutex;
  std::vector<IceCandidate> candidates;  // until the other side is ready
  bool forwardCandidates = false;
  std::shared_ptr<DataChannel> channel;
  std::shared_ptr<VideoTrack> remoteTrack;
  std::vector<std::pair<std::string, bool>> messages;
  std::vector<std::string> channelLabels;

  void onIceConnectionChange(IceConnectionState state) override { ice = state; }
  void onIceCandidate(const IceCandidate& candidate) override {
    std::lock_guard lock(mutex);
    if (forwardCandidates) {
      other->pc->addIceCandidate(candidate, nullptr);
    } else {
      candidates.push_back(candidate);
    }
  }
  void onVideoTrack(std::shared_ptr<VideoTrack> track) override {
    track->addSink(this);
    std::lock_guard lock(mutex);
    remoteTrack = std::move(track);
  }
  void onDataChannel(std::shared_ptr<DataChannel> dc) override {
    std::lock_guard lock(mutex);
    channelLabels.push_back(dc->label());
    dc->setObserver(this);
    channel = std::move(dc);
  }
  void onStateChange(DataChannelState state) override {
    if (state == DataChannelState::Open) channelOpen = true;
  }
  void onMessage(const std::string& data, bool binary) override {
    std::lock_guard lock(mutex);
    messages.push_back({data, binary});
  }
  void onFrame(const VideoFrameView& frame) override {
    frameWidth = frame.width;
    frameHeight = frame.height;
    const uint8_t* centre =
        frame.data + (frame.height / 2) * frame.stride + (frame.width / 2) * 4;
    centreBlue = centre[0];
    ++frames;
  }

  // Hands the gathered candidates to the other side and forwards later ones.
  void startForwarding() {
    std::lock_guard lock(mutex);
    for (const auto& candidate : candidates) other->pc->addIceCandidate(candidate, nullptr);
    candidates.clear();
    forwardCandidates = true;
  }
};

// Asks for an offer or an answer and waits for it; fails the test on error.
std::optional<SessionDescription> describe(PeerConnection& pc, bool offer,
                                           const MediaConstraints& constraints) {
  struct Result {
    std::atomic<bool> done{false};
    std::optional<SessionDescription> description;
    std::string error;
  };
  auto result = std::make_shared<Result>();
  auto done = [result](std::optional<SessionDescription> d, Error e) {
    result->description = std::move(d);
    result->error = e.message;
    result->done = true;
  };
  if (offer) {
    pc.createOffer(constraints, done);
  } else {
    pc.createAnswer(constraints, done);
  }
  if (!QTest::qWaitFor([&] { return result->done.load(); }, 10000)) return std::nullopt;
  if (!result->description) qWarning("no description: %s", result->error.c_str());
  return result->description;
}

}  // namespace

class WebRtcAdapterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void loopbackSessionCarriesControlAndVideo() {
    auto hostFactory = createWebRtcFactory();
    auto clientFactory = createWebRtcFactory();
    QVERIFY(hostFactory && clientFactory);

    Side host, client;
    host.other = &client;
    client.other = &host;
    Configuration config;  // no STUN/TURN: loopback host candidates only
    MediaConstraints pcConstraints;
    pcConstraints.optional["DtlsSrtpKeyAgreement"] = "true";
    host.pc = hostFactory->createPeerConnection(config, pcConstraints, &host);
    client.pc = clientFactory->createPeerConnection(config, pcConstraints, &client);
    QVERIFY(host.pc && client.pc);

    auto source = hostFactory->createVideoSource();
    auto track = hostFactory->createVideoTrack(source, "local-screen");
    QVERIFY(track);
    QCOMPARE(track->trackId(), std::string("local-screen"));
    track->setScreenContent(true);
    source->adaptOutputFormat(1280, 720, 30);
    QVERIFY(host.pc->addTrack(track, {"local-stream"}));
    auto control = host.pc->createDataChannel("control", true);
    QVERIFY(control);
    QCOMPARE(control->label(), std::string("control"));
    control->setObserver(&host);

    // Offer.
    MediaConstraints offerConstraints;
    offerConstraints.mandatory = {{"OfferToReceiveVideo", "false"},
                                  {"OfferToReceiveAudio", "false"}};
    const auto offer = describe(*host.pc, true, offerConstraints);
    QVERIFY(offer);
    QCOMPARE(offer->type, SdpType::Offer);
    const QString sdp = QString::fromStdString(offer->sdp);
    QVERIFY(sdp.contains("m=video"));
    QVERIFY2(sdp.contains("H264/90000"), "the builtin encoder factory offers H264");
    QVERIFY(sdp.contains("m=application"));

    std::atomic<int> completions{0};
    std::atomic<int> failures{0};
    auto count = [&](Error e) {
      if (!e.ok()) ++failures;
      ++completions;
    };
    host.pc->setLocalDescription(*offer, count);
    client.pc->setRemoteDescription(*offer, count);
    QTRY_COMPARE(completions.load(), 2);

    // Answer.
    MediaConstraints answerConstraints;
    answerConstraints.mandatory = {{"OfferToReceiveVideo", "true"},
                                   {"OfferToReceiveAudio", "false"}};
    const auto answer = describe(*client.pc, false, answerConstraints);
    QVERIFY(answer);
    QCOMPARE(answer->type, SdpType::Answer);
    client.pc->setLocalDescription(*answer, count);
    host.pc->setRemoteDescription(*answer, count);
    QTRY_COMPARE(completions.load(), 4);
    QCOMPARE(failures.load(), 0);

    host.startForwarding();
    client.startForwarding();
    QTRY_VERIFY_WITH_TIMEOUT(host.ice == IceConnectionState::Connected ||
                                 host.ice == IceConnectionState::Completed,
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(client.ice == IceConnectionState::Connected ||
                                 client.ice == IceConnectionState::Completed,
                             20000);
    QVERIFY(host.pc->iceConnectionState() == IceConnectionState::Connected ||
            host.pc->iceConnectionState() == IceConnectionState::Completed);

    // Control channel: the client adopts what the host opened.
    QTRY_VERIFY_WITH_TIMEOUT(host.channelOpen.load(), 20000);
    QCOMPARE(control->state(), DataChannelState::Open);
    QVERIFY(control->send(R"({"t":"move","x":0.25,"y":0.5})", false));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          std::lock_guard lock(client.mutex);
          return !client.messages.empty();
        }(),
        10000);
    {
      std::lock_guard lock(client.mutex);
      QCOMPARE(client.channelLabels, std::vector<std::string>{"control"});
      QCOMPARE(client.messages.front().first, std::string(R"({"t":"move","x":0.25,"y":0.5})"));
      QCOMPARE(client.messages.front().second, false);
    }

    // Video: a blue 640x360 BGRA picture, pushed at 30 fps.
    const int width = 640, height = 360;
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < picture.size(); i += 4) {
      picture[i] = 230;      // B
      picture[i + 1] = 40;   // G
      picture[i + 2] = 30;   // R
      picture[i + 3] = 255;  // A
    }
    QTimer pump;
    int64_t timestamp = 0;
    QObject::connect(&pump, &QTimer::timeout, [&] {
      timestamp += 33'333;
      source->pushFrame(VideoFrameView{picture.data(), width, height, width * 4, timestamp});
    });
    pump.start(33);
    QTRY_VERIFY_WITH_TIMEOUT(client.frames.load() >= 5, 30000);
    pump.stop();
    QCOMPARE(client.frameWidth.load(), width);
    QCOMPARE(client.frameHeight.load(), height);
    QVERIFY2(client.centreBlue.load() > 180, "decoded colours survive the trip");

    // Sender limits are written back through the parameters.
    auto senders = host.pc->senders();
    QCOMPARE(senders.size(), size_t(1));
    QCOMPARE(senders.front()->trackId(), std::string("local-screen"));
    QVERIFY(senders.front()->setEncodings({{2'000'000, 8'000'000, std::nullopt}}).ok());
    const auto encodings = senders.front()->encodings();
    QVERIFY(!encodings.empty());
    QCOMPARE(encodings.front().minBitrateBps.value_or(0), 2'000'000);
    QCOMPARE(encodings.front().maxBitrateBps.value_or(0), 8'000'000);

    // A malformed candidate is refused through the completion, not a crash.
    std::atomic<bool> refused{false};
    client.pc->addIceCandidate(IceCandidate{"candidate:garbage", std::string("0"), 0},
                               [&](Error e) { refused = !e.ok(); });
    QTRY_VERIFY(refused.load());

    // Clearing the observers stops every callback before the sides go away.
    {
      std::lock_guard lock(client.mutex);
      if (client.remoteTrack) client.remoteTrack->removeSink(&client);
      if (client.channel) client.channel->setObserver(nullptr);
    }
    control->setObserver(nullptr);
    host.pc->setObserver(nullptr);
    client.pc->setObserver(nullptr);
    host.pc->close();
    client.pc->close();
    QCOMPARE(host.pc->iceConnectionState(), IceConnectionState::Closed);
  }

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
    QTRY_COMPARE(errors.load(), 2);
    pc->setObserver(nullptr);
  }
};

QTEST_GUILESS_MAIN(WebRtcAdapterTest)
#include "webrtc_adapter_test.moc"
