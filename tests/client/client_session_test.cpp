// SPDX-License-Identifier: GPL-3.0-or-later
// The client's session against a scripted signaling server and scripted WebRTC.

#include <thread>

#include <QtTest>

#include "fake_environment.h"
#include "protocol/control_message.h"
#include "client/client_session.h"
#include "client/session_words.h"
#include "session_probe.h"

using namespace lunor;
using lunor::test::signalMessage;

namespace {

// A channel whose state() waits, as the library's does, for the library's
// signaling thread, which meanwhile delivers another event to the session.
class WaitingChannel final : public rtc::DataChannel {
 public:
  std::string label() const override { return "control"; }
  rtc::DataChannelState state() const override {
    if (whileAsked) {
      auto done = std::make_shared<std::atomic<bool>>(false);
      std::thread([work = whileAsked, done] {
        work();
        *done = true;
      }).detach();
      for (int i = 0; i < 500 && !*done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      answered = done->load();
    }
    return rtc::DataChannelState::Open;
  }
  bool send(const std::string&, bool) override { return true; }
  uint64_t bufferedAmount() const override { return 0; }
  void setObserver(rtc::DataChannelObserver*) override {}
  void close() override {}

  std::function<void()> whileAsked;
  mutable bool answered = false;
};

}  // namespace

class ClientSessionTest : public test::ScriptedSessionTest {
  Q_OBJECT

 private Q_SLOTS:
  // The host's person chooses what to share: the client says so and waits.
  void theHostsPersonChoosing() {
    QVERIFY(scripted->clientInRoom());
    server->sendJson({{"type", "approved"}});
    server->sendJson(test::signalMessage({{"type", "host-choosing"}, {"timeoutMs", 120000}}));
    QTRY_VERIFY(client()->isWaitingApproval());
    QTRY_COMPARE(client()->status(), Status::HostChoosing);
  }

  // What was typed goes as its digest, even nothing. A wrong password is
  // asked again at once; after too many the person learns when to try again
  // and is not asked before (a room locked for the day included).
  void deniedPasswords_data() {
    QTest::addColumn<QJsonObject>("denial");
    QTest::addColumn<QString>("notice");
    QTest::newRow("wrong") << QJsonObject{} << "Mot de passe incorrect";
    QTest::newRow("the address waits") << QJsonObject{{"retryAfterMs", 800}} << "Trop de tentatives : réessayez dans 1 s";
    QTest::newRow("the room is locked for the day")
        << QJsonObject{{"locked", true}, {"retryAfterMs", 800}}
        << "Trop de mots de passe faux pour cet ordinateur aujourd’hui : réessayez dans 1 s";
  }
  void deniedPasswords() {
    QFETCH(QJsonObject, denial);
    QFETCH(QString, notice);
    client()->startClient("123456789");
    QTRY_COMPARE_WITH_TIMEOUT(ofType("join").size(), 1, 5000);
    server->sendJson({{"type", "require-unattended"}});
    QTRY_VERIFY(client()->askUnattendedPassword());
    client()->submitUnattendedPassword("");
    QVERIFY(!client()->askUnattendedPassword());
    QTRY_COMPARE(ofType("join").size(), 2);
    QCOMPARE(ofType("join").last().value("passwordHash").toString(),
             QString("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QTRY_COMPARE(client()->status(), Status::CheckingPassword);
    denial.insert("type", "unattended-denied");
    server->sendJson(denial);
    QTRY_VERIFY2(client()->passwordNotice().startsWith(notice), qPrintable(client()->passwordNotice()));
    const bool waits = denial.contains("retryAfterMs");
    QCOMPARE(client()->passwordRetryAt().isValid(), waits);
    QCOMPARE(client()->askUnattendedPassword(), !waits);
    QTRY_VERIFY_WITH_TIMEOUT(client()->askUnattendedPassword(), 5000);  // then asked again
    QVERIFY(!client()->passwordRetryAt().isValid());
    // Put away, the prompt comes back when the person asks for it.
    client()->cancelPasswordPrompt();
    QVERIFY(client()->passwordPutAway() && !client()->askUnattendedPassword());
    client()->reopenPasswordPrompt();
    QVERIFY(client()->askUnattendedPassword() && !client()->passwordPutAway());
  }

  void serverEndsTheSession_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("toldTheHost");
    QTest::addColumn<bool>("atOnce");  // sent as the socket opens: handled in the same turn as the open
    QTest::newRow("rejected") << "rejected" << "Connexion refusée par l'hôte"
                              << "Connexion refusée par l'hôte." << true << false;
    QTest::newRow("host left") << "left" << "L'hôte s'est déconnecté" << "Déconnecté" << true << false;
    QTest::newRow("host gone") << "peer-left" << "L'hôte s'est déconnecté" << "Déconnecté" << true << false;
    QTest::newRow("host gone at once") << "peer-left" << "L'hôte s'est déconnecté" << "Déconnecté" << true << true;
    QTest::newRow("no such room") << "room-not-found" << "Hôte introuvable" << "Hôte introuvable" << false << false;
    QTest::newRow("room busy") << "room-busy" << "L’hôte est déjà en session"
                               << "L’hôte est déjà en session" << false << false;
  }
  void serverEndsTheSession() {
    QFETCH(QString, type);
    QFETCH(QString, reason);
    QFETCH(QString, status);
    QFETCH(bool, toldTheHost);
    QFETCH(bool, atOnce);
    if (atOnce) {
      connect(server, &test::TestWsServer::clientConnected, server, [this, type] { server->sendJson({{"type", type}}); });
    }
    client()->startClient("123456789");
    if (!atOnce) {
      QTRY_COMPARE(server->openClients(), 1);
      server->sendJson({{"type", type}});
    }
    QTRY_COMPARE(client()->endReason(), reason);
    QTRY_COMPARE(statusText(client()->status(), client()->statusDetail()), status);
    // What the session sent before its close has arrived once the server saw the close.
    QTRY_COMPARE(server->closeCodes().size(), 1);
    QCOMPARE(payloads("end").size(), toldTheHost ? 1 : 0);
    QVERIFY(environment->panelsFake.calls.filter("endSession").isEmpty());  // the host's panel only
  }

  // Nobody answers (the host's person is away, the server is gone): the
  // client gives up with its own reason and leaves the room.
  void waitsAreBounded_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no answer from the host")
        << "waiting" << int(EndCause::NoAnswer) << "L’hôte n’a pas répondu à la demande";
    QTest::newRow("no server") << "no server" << int(EndCause::ServerUnreachable)
                               << "Serveur de connexion injoignable";
  }
  void waitsAreBounded() {
    QFETCH(QString, what);
    QFETCH(int, cause);
    QFETCH(QString, reason);
    environment->endpoint.approvalTimeoutMs = 1500;
    environment->endpoint.reconnectDelaysMs = {100, 200, 300};
    if (what == "no server") {
      // Every connection the server takes, it drops at once.
      connect(server, &test::TestWsServer::clientConnected, server, [this] { server->closeNewest(); });
    }
    client()->startClient("123456789");
    if (what == "waiting") {
      // In the room (a peer connection is made), then waiting for the host's person.
      QTRY_COMPARE(ofType("join").size(), 1);
      server->sendJson({{"type", "joined"}});
      server->sendJson({{"type", "waiting-approval"}});
      QTRY_VERIFY(client()->isWaitingApproval());
      QVERIFY(scripted->connection() != nullptr);
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(client()->endCause()), cause, 10000);
    QCOMPARE(client()->endReason(), reason);
    QCOMPARE(client()->statusDetail(), reason);
    QVERIFY(!client()->running());
    if (what == "no server") QCOMPARE(server->connectionCount(), 4);  // the first try and three more
    // Leaving the room is what withdraws the request on the host's side.
    if (what == "waiting") QTRY_COMPARE(server->closeCodes().size(), 1);
  }

  // The server's key for this machine comes with admissions, goes with later joins.
  void deviceKeysComeWithAdmissionsAndGoWithJoins() {
    const QString key(64, 'b');
    client()->startClient("123456789");
    QTRY_COMPARE(ofType("join").size(), 1);
    QVERIFY(!ofType("join").first().contains("deviceKey"));
    server->sendJson({{"type", "joined"}});
    server->sendJson({{"type", "approved"}, {"deviceKey", key}});
    QTRY_VERIFY(scripted->connection() != nullptr);
    QVERIFY(environment->addressBookFake.deviceKey("123456789").isEmpty());  // no entry before the session is up
    scripted->connection()->reportIceState(rtc::IceConnectionState::Connected);
    QTRY_COMPARE(environment->addressBookFake.deviceKey("123456789"), key);

    client()->stop("fin");
    client()->startClient("123456789");
    QTRY_COMPARE(ofType("join").size(), 2);
    QCOMPARE(ofType("join").last().value("deviceKey").toString(), key);
    server->sendJson({{"type", "require-unattended"}});
    QTRY_VERIFY(client()->askUnattendedPassword());
    client()->submitUnattendedPassword("pw");
    QTRY_COMPARE(ofType("join").size(), 3);
    QCOMPARE(ofType("join").last().value("deviceKey").toString(), key);
  }

  void displaysAndGeometryPayloads() {
    client()->startClient("123456789");
    QTRY_COMPARE(server->openClients(), 1);
    const QJsonObject good{{"index", 0}, {"name", "Écran 1"}, {"resolution", "2560x1440"}, {"id", 1}};
    server->sendJson(signalMessage(
        {{"type", "displays"},
         {"displays", QJsonArray{good, QJsonObject{{"index", "1"}, {"name", "x"}, {"resolution", "y"}}, 7}}}));
    QTRY_COMPARE(client()->availableDisplays().size(), 1);
    server->sendJson(signalMessage({{"type", "displays"}, {"displays", QJsonArray{}}}));
    QTRY_VERIFY(logged("📥 displays[] vide ignoré (on conserve la liste actuelle)"));
    QCOMPARE(client()->availableDisplays().size(), 1);

    server->sendJson(signalMessage({{"type", "videoGeometry"}, {"width", 2560}, {"height", 1440}, {"activeDisplay", 0}}));
    QTRY_COMPARE(client()->remoteVideoSize(), QSize(2560, 1440));
    server->sendJson(signalMessage({{"type", "videoGeometry"}, {"width", 0}, {"height", 1080}, {"activeDisplay", 1}}));
    QTRY_COMPARE(client()->currentDisplayIndex(), 1);
    QCOMPARE(client()->remoteVideoSize(), QSize(2560, 1440));
  }

  void candidatesTravelBothWays() {
    QVERIFY(scripted->clientInRoom());
    auto* pc = scripted->connection();
    server->sendJson(signalMessage(
        {{"type", "ice"},
         {"candidate", QJsonObject{{"candidate", "candidate:1 1 udp 1 127.0.0.1 5000 typ host"},
                                   {"sdpMid", "0"},
                                   {"sdpMLineIndex", 0}}}}));
    QTRY_COMPARE(pc->candidates.size(), size_t(1));
    pc->observer->onIceCandidate({"candidate:2 1 udp 1 127.0.0.1 5001 typ host", std::nullopt, 0});
    QTRY_COMPARE(payloads("ice").size(), 1);
    QCOMPARE(payloads("ice").first().value("candidate").toObject().value("sdpMid").toString(), QString("0"));
  }

  void onlyTheControlChannelIsAdoptedAndOnlyValidMessagesLeave() {
    QVERIFY(scripted->clientInRoom());
    auto* pc = scripted->connection();
    auto other = std::make_shared<rtc::FakeDataChannel>("chat");
    other->state_ = rtc::DataChannelState::Open;
    pc->observer->onDataChannel(other);
    QTRY_VERIFY(logged("🔗 DataChannel reçu: chat"));
    QVERIFY(!client()->isControlChannelOpen());
    auto control = std::make_shared<rtc::FakeDataChannel>("control");
    control->state_ = rtc::DataChannelState::Open;
    pc->observer->onDataChannel(control);
    QTRY_VERIFY(client()->isControlChannelOpen());
    QTRY_VERIFY(logged("✅ DataChannel 'control' prêt (client)"));

    client()->sendControl(QVariantMap{{"t", "move"}, {"x", 0.5}, {"y", 0.25}});
    client()->sendControl(QVariantMap{{"t", "teleport"}, {"x", 0.5}});
    client()->sendControl(QVariantMap{{"t", "mod"}, {"k", "hyper"}, {"d", true}});
    QCOMPARE(control->sent.size(), size_t(1));
    QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(control->sent.front().first)).object(),
             (QJsonObject{{"t", "move"}, {"x", 0.5}, {"y", 0.25}, {"displayIndex", 0}}));
    QVERIFY(other->sent.empty());
  }

  // The channel's state waits for the library's thread, which must not wait for our lock.
  void channelStateIsAskedWithoutHoldingALockOfOurs() {
    QVERIFY(scripted->clientInRoom());
    rtc::PeerConnectionObserver* observer = scripted->connection()->observer;
    auto channel = std::make_shared<WaitingChannel>();
    observer->onDataChannel(channel);
    QTRY_VERIFY(logged("✅ DataChannel 'control' prêt (client)"));
    channel->whileAsked = [observer] {
      observer->onDataChannel(std::make_shared<rtc::FakeDataChannel>("control"));
    };
    QVERIFY(client()->isControlChannelOpen());
    QVERIFY(channel->answered);
  }

  // The first picture may come before the control channel opens (under load
  // the word was lost): the host hears of it once the channel is open, once.
  void theFirstPictureIsToldOnce_data() {
    QTest::addColumn<bool>("pictureFirst");
    QTest::newRow("picture, then channel") << true;
    QTest::newRow("channel, then picture") << false;
  }
  void theFirstPictureIsToldOnce() {
    QFETCH(bool, pictureFirst);
    QVERIFY(scripted->clientInRoom());
    rtc::PeerConnectionObserver* observer = scripted->connection()->observer;
    auto track = std::make_shared<rtc::FakeVideoTrack>("remote");
    observer->onVideoTrack(track);
    QTRY_VERIFY(track->sinkCount() > 0);
    const uint8_t pixels[4] = {};
    const rtc::I420FrameView frame{pixels, pixels, pixels, 2, 1, 1, 2, 2, 0};
    if (pictureFirst) track->deliver(frame);
    QTest::qWait(100);
    // As the library does: the channel comes, then opens.
    auto control = std::make_shared<rtc::FakeDataChannel>("control");
    observer->onDataChannel(control);
    QTRY_VERIFY(control->observer);
    control->state_ = rtc::DataChannelState::Open;
    control->observer->onStateChange(rtc::DataChannelState::Open);
    QTRY_VERIFY(client()->isControlChannelOpen());
    track->deliver(frame);
    const auto words = [&] {
      return std::count(control->sent.begin(), control->sent.end(), std::pair{std::string(kPictureShownMessage), false});
    };
    QTRY_COMPARE(words(), 1);
    track->deliver(frame);
    QTest::qWait(200);
    QCOMPARE(words(), 1);
  }
};

QTEST_GUILESS_MAIN(ClientSessionTest)
#include "client_session_test.moc"
