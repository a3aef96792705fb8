// The session's media rules against scripted WebRTC, a synthetic capturer,
// a recording injector and a scripted signaling server.

#include <QtTest>

#include "fake_environment.h"
#include "session_probe.h"
#include "session/remote_session.h"
#include "test_ws_server.h"

using namespace lunor;
using lunor::test::FakeEnvironment;
using lunor::test::FakePeerConnection;
using lunor::test::FakeVideoSource;
using lunor::test::TestWsServer;

namespace {

QJsonObject signal(const QJsonObject& data) { return {{"type", "signal"}, {"data", data}}; }

}  // namespace

class RemoteSessionMediaTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::ScriptedSession> scripted;
  TestWsServer* server = nullptr;
  FakeEnvironment* environment = nullptr;
  RemoteSession* session = nullptr;

  QStringList injected() const { return environment->injectors.front()->calls(); }
  QList<QJsonObject> payloads(const QString& type) const { return test::signalPayloads(*server, type); }
  bool logged(const QString& text) const { return test::logged(*session, text); }
  bool startHost() {
    session->startHost("123456789");
    return QTest::qWaitFor([&] { return server->openClients() == 1; }, 10000);
  }
  // Host with a running capture, a connection and its sender.
  bool hostCapturing() {
    if (!startHost()) return false;
    session->startHostCapture();
    if (!QTest::qWaitFor([&] { return session->hasLocalVideoTrack(); }, 5000)) return false;
    session->createPeerConnection();
    session->refreshDisplays();  // as a client's arrival does
    return QTest::qWaitFor([&] { return !payloads("videoGeometry").isEmpty(); }, 5000);
  }
  FakePeerConnection& pc() { return *environment->factories.front()->connections.back(); }
  FakeVideoSource& source() { return *environment->factories.front()->sources.back(); }

 private Q_SLOTS:
  void init() {
    scripted = std::make_unique<test::ScriptedSession>();
    server = &scripted->server;
    environment = &scripted->environment;
    session = &scripted->session;
  }
  void cleanup() { scripted.reset(); }

  void controlMessagesUseTheirDefaults_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("move without coordinates") << QByteArray(R"({"t":"move"})") << QStringList{"moveTo(0,0)"};
    QTest::newRow("coordinates of the wrong type") << QByteArray(R"({"t":"move","x":"1","y":true})") << QStringList{"moveTo(0,0)"};
    QTest::newRow("b 1.5 is button 0") << QByteArray(R"({"t":"mdown","b":1.5,"x":0.5,"y":0.5})") << QStringList{"mouseDown(0,0.5,0.5)"};
    QTest::newRow("right drag") << QByteArray(R"({"t":"drag","b":1,"x":0.1,"y":0.2})") << QStringList{"drag(1,0.1,0.2)"};
    QTest::newRow("double click ignores the position") << QByteArray(R"({"t":"doubleclick","b":0,"x":9,"y":9})") << QStringList{"doubleClick(0)"};
    QTest::newRow("keyCode wins over key") << QByteArray(R"({"t":"keydown","keyCode":12,"key":"a"})") << QStringList{"keyEvent(12,1)"};
    QTest::newRow("key without keyCode") << QByteArray(R"({"t":"keyup","key":"é"})") << QStringList{"typeCharacter(é,0)"};
    QTest::newRow("mod without d") << QByteArray(R"({"t":"mod","k":"shift"})") << QStringList{};
    QTest::newRow("mod with a string d") << QByteArray(R"({"t":"mod","k":"shift","d":"true"})") << QStringList{};
    QTest::newRow("mod") << QByteArray(R"({"t":"mod","k":"cmd","d":false})") << QStringList{"setModifier(cmd,0)"};
    QTest::newRow("keyCode too large") << QByteArray(R"({"t":"keydown","keyCode":70000})") << QStringList{};
    QTest::newRow("keyCode negative") << QByteArray(R"({"t":"keydown","keyCode":-1})") << QStringList{};
    QTest::newRow("keyCode fractional") << QByteArray(R"({"t":"keydown","keyCode":1.5})") << QStringList{};
    QTest::newRow("character beyond U+FFFF") << QByteArray(R"({"t":"keydown","key":"😀"})") << QStringList{};
    QTest::newRow("huge scroll is bounded") << QByteArray(R"({"t":"scroll","dx":1e300,"dy":-1e300})")
                                            << QStringList{"scroll(0,0,2.14748e+09,-2.14748e+09)"};
    QTest::newRow("unknown type") << QByteArray(R"({"t":"teleport","x":1})") << QStringList{};
    QTest::newRow("no type") << QByteArray(R"({"x":1})") << QStringList{};
  }
  void controlMessagesUseTheirDefaults() {
    QFETCH(QByteArray, message);
    QFETCH(QStringList, calls);
    QVERIFY(startHost());
    session->handleControlMessage(QJsonDocument::fromJson(message).object());
    QTest::qWait(50);  // key and modifier actions go through the main queue
    QCOMPARE(injected(), calls);
  }

  void channelPayloadsAreParsedOrDropped() {
    QVERIFY(startHost());
    session->createPeerConnection();
    auto channel = pc().channels.front();
    QVERIFY(channel->observer);
    channel->observer->onMessage(R"([{"t":"move"}])", false);
    channel->observer->onMessage(R"({"t":"move")", false);
    channel->observer->onMessage(R"({"t":"move","x":0.5})", true);
    channel->observer->onMessage(R"({"t":"move","x":0.5})", false);
    QCOMPARE(injected(), QStringList{"moveTo(0.5,0)"});
  }

  void withoutPermissionEveryMessageIsDroppedAndWarned() {
    QVERIFY(startHost());
    environment->mayControl = false;
    session->handleControlMessage({{"t", "move"}, {"x", 0.5}});
    session->handleControlMessage({{"t", "keydown"}, {"keyCode", 3}});
    environment->mayControl = true;
    QTest::qWait(50);
    QVERIFY(injected().isEmpty());
    QTRY_COMPARE(session->logs().filter("Autorise l'app dans Confidentialité > Accessibilité").size(), 2);
  }

  void clientIgnoresChannelTraffic() {
    session->startClient("123456789");
    session->handleControlMessage({{"t", "move"}, {"x", 0.5}});
    QVERIFY(injected().isEmpty());
  }

  void dragBoostFollowsTheOutermostButton() {
    QVERIFY(hostCapturing());
    auto* capturer = environment->capturers.back();
    QCOMPARE(capturer->frameRate(), 25);
    session->handleControlMessage({{"t", "mup"}});  // no press before: nothing
    QCOMPARE(session->dragBoostCount(), 0);
    QCOMPARE(capturer->frameRate(), 25);

    session->handleControlMessage({{"t", "mdown"}});
    session->handleControlMessage({{"t", "mdown"}, {"b", 1}});
    QCOMPARE(capturer->frameRate(), 60);
    QCOMPARE(source().formatsSnapshot().back(), std::string("2560x1440@60"));
    session->handleControlMessage({{"t", "mup"}});
    QCOMPARE(capturer->frameRate(), 60);
    session->handleControlMessage({{"t", "mup"}, {"b", 1}});
    QCOMPARE(capturer->frameRate(), 25);
    QCOMPARE(source().formatsSnapshot().back(), std::string("2560x1440@25"));
    QCOMPARE(session->dragBoostCount(), 0);
  }

  void qualityPayloads_data() {
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<bool>("applied");
    QTest::newRow("epic") << QJsonValue("epic") << true;
    QTest::newRow("unknown name") << QJsonValue("ultra") << false;
    QTest::newRow("not a string") << QJsonValue(3) << false;
  }
  void qualityPayloads() {
    QFETCH(QJsonValue, value);
    QFETCH(bool, applied);
    QVERIFY(hostCapturing());
    const int geometriesBefore = payloads("videoGeometry").size();
    server->sendJson(signal({{"type", "quality"}, {"value", value}}));
    if (!applied) {
      QTest::qWait(200);
      QCOMPARE(session->currentQuality(), QualityProfile::Medium);
      return;
    }
    QTRY_COMPARE(session->currentQuality(), QualityProfile::Epic);
    QVERIFY(logged("🎛️ Qualité = epic → 2560x1440 @60fps (bitrate: 30Mbps)"));
    QVERIFY(logged("🚀 Bitrate MAJ: min=7Mbps max=30Mbps"));
    QCOMPARE(source().formatsSnapshot().back(), std::string("2560x1440@60"));
    const auto encodings = pc().senderList.front()->encodings();
    QCOMPARE(encodings.front().maxBitrateBps.value_or(0), 30'000'000);
    QCOMPARE(encodings.front().minBitrateBps.value_or(0), 7'500'000);
    QTRY_COMPARE(payloads("videoGeometry").size(), geometriesBefore + 1);
    const QJsonObject geometry = payloads("videoGeometry").last();
    QCOMPARE(geometry.value("width").toInt(), 2560);
    QCOMPARE(geometry.value("height").toInt(), 1440);
    QCOMPARE(geometry.value("activeDisplay").toInt(), 0);
    QCOMPARE(geometry.value("displayID").toInt(), 1);
  }

  void lowProfileScalesTheSourceButReportsTheDisplay() {
    QVERIFY(hostCapturing());
    session->applyQuality(QualityProfile::Low);
    QCOMPARE(source().formatsSnapshot().back(), std::string("1280x720@15"));
    QTRY_VERIFY(!payloads("videoGeometry").isEmpty());
    QCOMPARE(payloads("videoGeometry").last().value("width").toInt(), 2560);
  }

  void displaySwitches_data() {
    QTest::addColumn<QJsonValue>("index");
    QTest::addColumn<bool>("switches");
    QTest::newRow("second display") << QJsonValue(1) << true;
    QTest::newRow("index equal to the length") << QJsonValue(2) << false;
    QTest::newRow("negative") << QJsonValue(-1) << false;
    QTest::newRow("not an integer") << QJsonValue(0.5) << false;
  }
  void displaySwitches() {
    QFETCH(QJsonValue, index);
    QFETCH(bool, switches);
    QVERIFY(hostCapturing());
    QTRY_COMPARE(session->availableDisplays().size(), 2);
    const int startsBefore = environment->capturers.back()->startCount();
    server->sendJson(signal({{"type", "switchDisplay"}, {"displayIndex", index}}));
    if (!switches) {
      QTest::qWait(200);
      QCOMPARE(session->currentDisplayIndex(), 0);
      QCOMPARE(session->currentDisplayId(), 1u);
      return;
    }
    QTRY_COMPARE(session->currentDisplayId(), 2u);
    QCOMPARE(session->currentDisplayIndex(), 1);
    QCOMPARE(environment->injectors.front()->currentDisplayId(), 2u);
    QVERIFY(injected().contains("moveTo(0.5,0.5)"));
    QCOMPARE(session->nativeDisplaySize(), QSize(1920, 1080));
    QTRY_COMPARE(environment->capturers.back()->startCount(), startsBefore + 1);
    QTRY_VERIFY(logged("📤 videoGeometry envoyé après switch: 1920x1080 (display 1)"));
  }

  void hostDisplayListIsPublishedAndSent() {
    QVERIFY(hostCapturing());
    QTRY_VERIFY(!payloads("displays").isEmpty());
    const QJsonArray displays = payloads("displays").last().value("displays").toArray();
    QCOMPARE(displays.size(), 2);
    QCOMPARE(displays[0].toObject(),
             (QJsonObject{{"index", 0}, {"name", "Écran 1"}, {"resolution", "2560x1440"}, {"id", 1}}));
    QCOMPARE(displays[1].toObject(),
             (QJsonObject{{"index", 1}, {"name", "Écran 2"}, {"resolution", "1920x1080"}, {"id", 2}}));
    QCOMPARE(session->availableDisplays().at(1).toMap().value("name").toString(), QString("Écran 2"));
  }

  void clientDisplayAndGeometryPayloads() {
    session->startClient("123456789");
    QTRY_COMPARE(server->openClients(), 1);
    const QJsonObject good{{"index", 0}, {"name", "Écran 1"}, {"resolution", "2560x1440"}, {"id", 1}};
    server->sendJson(signal({{"type", "displays"},
                             {"displays", QJsonArray{good, QJsonObject{{"index", "1"}, {"name", "x"}, {"resolution", "y"}}, 7}}}));
    QTRY_COMPARE(session->availableDisplays().size(), 1);
    server->sendJson(signal({{"type", "displays"}, {"displays", QJsonArray{}}}));
    QTRY_VERIFY(logged("📥 displays[] vide ignoré (on conserve la liste actuelle)"));
    QCOMPARE(session->availableDisplays().size(), 1);

    server->sendJson(signal({{"type", "videoGeometry"}, {"width", 2560}, {"height", 1440}, {"activeDisplay", 0}}));
    QTRY_COMPARE(session->remoteVideoSize(), QSize(2560, 1440));
    server->sendJson(signal({{"type", "videoGeometry"}, {"width", 0}, {"height", 1080}, {"activeDisplay", 1}}));
    QTRY_COMPARE(session->currentDisplayIndex(), 1);
    QCOMPARE(session->remoteVideoSize(), QSize(2560, 1440));
  }

  void hostGeometryPayloadOnlyTakesAValidDisplayId_data() {
    QTest::addColumn<QJsonValue>("displayId");
    QTest::addColumn<uint>("expected");
    QTest::newRow("in range") << QJsonValue(4294967295.0) << 4294967295u;
    QTest::newRow("too large") << QJsonValue(4294967296.0) << 1u;
    QTest::newRow("negative") << QJsonValue(-2) << 1u;
    QTest::newRow("string") << QJsonValue("2") << 1u;
  }
  void hostGeometryPayloadOnlyTakesAValidDisplayId() {
    QFETCH(QJsonValue, displayId);
    QFETCH(uint, expected);
    QVERIFY(startHost());
    server->sendJson(signal({{"type", "videoGeometry"}, {"displayID", displayId}}));
    QTest::qWait(200);
    QCOMPARE(session->currentDisplayId(), expected);
    QCOMPARE(environment->injectors.front()->currentDisplayId(), expected);
  }

  void iceCandidatePayloadsAreTypeChecked_data() {
    QTest::addColumn<QJsonObject>("candidate");
    QTest::addColumn<bool>("added");
    const QJsonObject good{{"candidate", "candidate:1 1 udp 1 127.0.0.1 5000 typ host"},
                           {"sdpMid", "0"},
                           {"sdpMLineIndex", 0}};
    QTest::newRow("valid") << good << true;
    QJsonObject indexString = good;
    indexString["sdpMLineIndex"] = "0";
    QTest::newRow("index as a string") << indexString << false;
    QJsonObject noMid = good;
    noMid.remove("sdpMid");
    QTest::newRow("no sdpMid") << noMid << false;
    QJsonObject huge = good;
    huge["sdpMLineIndex"] = 2147483648.0;
    QTest::newRow("index past 32 bits") << huge << false;
    QJsonObject fractional = good;
    fractional["sdpMLineIndex"] = 0.5;
    QTest::newRow("fractional index") << fractional << false;
  }
  void iceCandidatePayloadsAreTypeChecked() {
    QFETCH(QJsonObject, candidate);
    QFETCH(bool, added);
    QVERIFY(startHost());
    session->createPeerConnection();
    server->sendJson(signal({{"type", "ice"}, {"candidate", candidate}}));
    QTest::qWait(200);
    QCOMPARE(pc().candidates.size(), size_t(added ? 1 : 0));
  }

  void localCandidateWithoutMidIsSentAsZero() {
    QVERIFY(startHost());
    session->createPeerConnection();
    pc().observer->onIceCandidate({"candidate:1 1 udp 1 127.0.0.1 5000 typ host", std::nullopt, 0});
    QTRY_COMPARE(payloads("ice").size(), 1);
    QCOMPARE(payloads("ice").first().value("candidate").toObject(),
             (QJsonObject{{"candidate", "candidate:1 1 udp 1 127.0.0.1 5000 typ host"},
                          {"sdpMid", "0"},
                          {"sdpMLineIndex", 0}}));
  }

  void offerWaitsForApprovalAndGoesOnce() {
    QVERIFY(hostCapturing());
    session->sendOfferIfReady();
    QTest::qWait(100);
    QVERIFY(payloads("offer").isEmpty());

    server->sendJson({{"type", "join-request"}, {"clientId", "c1"}});
    QTRY_VERIFY(session->pendingJoin());
    session->approve();
    QTRY_COMPARE(payloads("offer").size(), 1);
    const QJsonObject offer = payloads("offer").first();
    QCOMPARE(offer.value("sdp").toObject().value("type").toString(), QString("offer"));
    QVERIFY(pc().preferredCodec == "H264");
    session->sendOfferIfReady();
    QTRY_VERIFY(logged("ℹ️ Offre déjà envoyée, pas de doublon"));
    QTest::qWait(100);
    QCOMPARE(payloads("offer").size(), 1);
  }

  void channelUnderAnotherLabelIsNotAdopted() {
    session->startClient("123456789");
    session->createPeerConnection();
    auto other = std::make_shared<lunor::test::FakeDataChannel>("chat");
    other->state_ = rtc::DataChannelState::Open;
    pc().observer->onDataChannel(other);
    QTRY_VERIFY(logged("🔗 DataChannel reçu: chat"));
    QVERIFY(!session->isControlChannelOpen());
    auto control = std::make_shared<lunor::test::FakeDataChannel>("control");
    control->state_ = rtc::DataChannelState::Open;
    pc().observer->onDataChannel(control);
    QVERIFY(session->isControlChannelOpen());
    session->sendControl(QJsonObject{{"t", "move"}, {"x", 0.5}, {"y", 0.25}});
    QCOMPARE(control->sent.size(), size_t(1));
    QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(control->sent.front().first)).object(),
             (QJsonObject{{"t", "move"}, {"x", 0.5}, {"y", 0.25}}));
    QVERIFY(other->sent.empty());
  }
};

QTEST_GUILESS_MAIN(RemoteSessionMediaTest)
#include "remote_session_media_test.moc"
