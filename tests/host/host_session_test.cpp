// SPDX-License-Identifier: GPL-3.0-or-later
// The host side of a session against a scripted signaling server, scripted
// WebRTC, a synthetic capturer and a recording injector.
//
//   (0,0) +-------------+ (2560,0) +----------+
//         |  display 1  |          | display 2|
//         |  2560x1440  |          | 1920x1080|
//         |             |          +----------+ (1080)
//         +-------------+ (1440)

#include <QElapsedTimer>
#include <QSemaphore>
#include <QtTest>

#include "protocol/control_message.h"

#include "fake_environment.h"
#include "host/host_media.h"
#include "client/client_session.h"
#include "host/host_session.h"
#include "session_probe.h"
#include "protocol/wire_text.h"
#include "store/owner_key.h"
#include "store/secret_store.h"
#include "store/unattended_password.h"

using namespace lunor;
using lunor::test::joinRequest;
using lunor::test::signalMessage;

class HostSessionTest : public test::ScriptedSessionTest {
  Q_OBJECT

  QStringList injected() const { return scripted->injector().calls(); }
  std::string lastFormat() const { return scripted->source().formatsSnapshot().back(); }
  void control(const QByteArray& text) { scripted->sendControl(text); }

 private Q_SLOTS:
  // ------------------------------------------------------------ the room --

  // The host checks passwords itself; the server gets the digest (as good as
  // the password) only when clients that cannot prove one are let in.
  void roomCreationCarriesTheDigestOnlyWhenAsked_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("unproven");
    QTest::addColumn<bool>("delayed");
    QTest::addColumn<QJsonObject>("unattended");
    const QJsonObject proved{{"enabled", true}, {"proof", "host"}};
    const QJsonObject both{{"enabled", true}, {"proof", "host"}, {"hash", unattendedPasswordHash("secret")}};
    QTest::newRow("off") << false << "secret" << true << false << QJsonObject();
    QTest::newRow("on, password stored") << true << "secret" << false << false << proved;
    QTest::newRow("on, unproven clients too") << true << "secret" << true << false << both;
    QTest::newRow("on, no password") << true << "" << true << true << QJsonObject();
  }
  void roomCreationCarriesTheDigestOnlyWhenAsked() {
    QFETCH(bool, enabled);
    QFETCH(QString, stored);
    QFETCH(bool, unproven);
    QFETCH(bool, delayed);
    QFETCH(QJsonObject, unattended);
    environment->profileStore().setUnattendedEnabled(enabled);
    environment->profileStore().setAcceptsUnprovenClients(unproven);
    saveUnattendedPassword(environment->secrets, stored);

    QElapsedTimer clock;
    host()->startHost("123456789");
    QTRY_VERIFY(logged("🔌 WebSocket connecté (role=HOST, roomId=123456789)"));
    clock.start();
    QTRY_COMPARE(ofType("create").size(), 1);
    if (delayed) QVERIFY(clock.elapsed() >= 150);
    QTest::qWait(300);
    QCOMPARE(ofType("create").size(), 1);
    const QJsonObject create = ofType("create").first();
    QCOMPARE(create.value("roomId").toString(), QString("123456789"));
    QCOMPARE(create.value("requiresApproval"), QJsonValue(true));
    // The owner key: made once, kept in the secret store, sent every time.
    QVERIFY(isHex64(create.value("ownerKey").toString()));
    QCOMPARE(create.value("ownerKey").toString(), ownerKey(environment->secrets).value_or(QString()));
    QCOMPARE(create.value("unattended").toObject(), unattended);
    QTRY_COMPARE(host()->status(), Status::RoomRequested);
  }

  // A keyring that cannot be read may hold the key: a new one would lose the ID.
  void anUnreadableOwnerKeyIsNeverReplaced() {
    environment->secrets.failReadsWith = KeychainError::unexpectedStatus(KeychainError::kStatusFailed);
    QVERIFY(scripted->startHost());
    QVERIFY(!ofType("create").first().contains("ownerKey"));
    QVERIFY(environment->secrets.items.isEmpty());
    QTRY_VERIFY(logged("⚠️ Clé de propriétaire illisible (trousseau verrouillé ?) : salle demandée sans elle"));
  }

  // The keyring may wait for the person to unlock it; the main thread does not.
  void aSlowSecretStoreDoesNotHoldTheMainThread() {
    // Shared with the hook: the worker may still be in it if the test fails.
    auto answer = std::make_shared<QSemaphore>();
    environment->secrets.beforeRead = [answer] { answer->tryAcquire(1, 10000); };
    QElapsedTimer clock;
    clock.start();
    host()->startHost("123456789");
    QTRY_VERIFY(logged("🔌 WebSocket connecté (role=HOST, roomId=123456789)"));
    QTest::qWait(300);
    QVERIFY2(clock.elapsed() < 8000, "the main thread waited for the secret store");
    QVERIFY(ofType("create").isEmpty());
    answer->release(10);
    QTRY_COMPARE(ofType("create").size(), 1);
    QVERIFY(isHex64(ofType("create").first().value("ownerKey").toString()));
  }

  // ---------------------------------------------------------- join requests --

  void repeatedRequestKeepsThePendingOne() {
    QVERIFY(scripted->startHost());
    server->sendJson(joinRequest("c1"));
    QTRY_VERIFY(host()->pendingJoin());
    server->sendJson(joinRequest("c1"));
    QTRY_COMPARE(environment->panelsFake.calls.filter("joinRequest(").size(), 2);
    QCOMPARE(environment->notificationsFake.posted.size(), 1);
    QCOMPARE(environment->soundsFake.joinRequests, 1);  // heard once, notifications or not
    QVERIFY(host()->pendingJoin());
    host()->approve();
    QTRY_COMPARE(ofType("approve").size(), 1);
    QCOMPARE(ofType("approve").first().value("target").toString(), QString("c1"));
  }

  // A requester who leaves takes its prompts; the room and the host's state stay.
  void aRequesterWhoLeavesOnlyWithdrawsTheRequest_data() {
    QTest::addColumn<QString>("leaving");  // the "clientId" of "peer-left"; empty: none
    QTest::addColumn<bool>("withdrawn");
    QTest::newRow("the requester") << "c1" << true;
    QTest::newRow("without saying who") << "" << true;
    QTest::newRow("someone else who was waiting") << "c9" << false;
  }
  void aRequesterWhoLeavesOnlyWithdrawsTheRequest() {
    QFETCH(QString, leaving);
    QFETCH(bool, withdrawn);
    QVERIFY(scripted->startHost());
    server->sendJson(joinRequest("c1"));
    QTRY_VERIFY(host()->pendingJoin());
    QJsonObject left{{"type", "peer-left"}};
    if (!leaving.isEmpty()) left.insert("clientId", leaving);
    server->sendJson(left);
    QTRY_VERIFY(logged("👋 Peer parti: " + (leaving.isEmpty() ? QString("?") : leaving)));
    QCOMPARE(host()->pendingJoin(), !withdrawn);
    QCOMPARE(environment->notificationsFake.withdrawn, withdrawn ? QStringList{"c1"} : QStringList{});
    QCOMPARE(environment->panelsFake.calls.contains("dismissJoinRequest"), withdrawn);
    if (withdrawn) QVERIFY(host()->requesterName().isNull());

    environment->clockFake.advance(HostSession::kRestartDelayMs * 2);
    QTest::qWait(100);
    QVERIFY(environment->panelsFake.calls.filter("endSession").isEmpty());
    QVERIFY(environment->panelsFake.calls.filter("FloatingHud").isEmpty());
    QVERIFY(host()->endReason().isNull());
    QVERIFY(host()->running());
    QCOMPARE(server->connectionCount(), 1);  // the room was not made again
    QCOMPARE(ofType("create").size(), 1);
    // No cooldown either: the next requester is heard at once.
    server->sendJson(joinRequest("c2", "Yann"));
    QTRY_COMPARE(host()->requesterName(), QString("Yann"));
    QVERIFY(host()->pendingJoin());
  }

  void promptButtonsFollowTheRequestFlags_data() {
    QTest::addColumn<bool>("unattended");
    QTest::addColumn<bool>("awaitingPassword");
    QTest::addColumn<bool>("canAccept");
    QTest::addColumn<QStringList>("rejectSends");
    QTest::newRow("plain") << false << false << true << QStringList{"reject"};
    QTest::newRow("unattended client") << true << false << false << QStringList{"kick", "reject"};
    QTest::newRow("awaiting password") << true << true << false << QStringList{"reject", "reject"};
  }
  void promptButtonsFollowTheRequestFlags() {
    QFETCH(bool, unattended);
    QFETCH(bool, awaitingPassword);
    QFETCH(bool, canAccept);
    QFETCH(QStringList, rejectSends);
    QVERIFY(scripted->startHost());
    QJsonObject request = joinRequest("c9");
    request.insert("unattended", unattended);
    request.insert("awaitingPassword", awaitingPassword);
    server->sendJson(request);
    QTRY_VERIFY(environment->panelsFake.lastPrompt.has_value());
    const auto prompt = *environment->panelsFake.lastPrompt;
    QCOMPARE(bool(prompt.accept), canAccept);
    QVERIFY(prompt.reject);
    // The panel says the clipboard will be shared; one click cuts it both ways.
    QVERIFY(prompt.clipboard && prompt.setClipboard);
    prompt.setClipboard(false);
    QVERIFY(!SessionFeatures::of(host()->features()).clipboardSending() &&
            !SessionFeatures::of(host()->features()).clipboardReceiving());
    prompt.reject();
    QTRY_COMPARE(server->receivedTypes().mid(1), rejectSends);
    for (const auto& sent : server->receivedObjects().mid(1)) {
      QCOMPARE(sent.value("target").toString(), QString("c9"));
    }
    QVERIFY(!host()->pendingJoin());
  }

  // A notification answers only the request on screen: a stale "Accepter"
  // must not start a capture for nobody.
  void notificationButtonsAnswerOnlyThePendingRequest_data() {
    QTest::addColumn<bool>("request");
    QTest::addColumn<bool>("rejectFirst");
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("sent");
    const int approve = int(JoinAction::Approve), reject = int(JoinAction::Reject);
    QTest::newRow("accept the requester") << true << false << "c1" << approve << "approve";
    QTest::newRow("reject the requester") << true << false << "c1" << reject << "reject";
    QTest::newRow("accept someone else") << true << false << "c2" << approve << "";
    QTest::newRow("accept after a reject") << true << true << "c1" << approve << "";
    QTest::newRow("accept with no request") << false << false << "c7" << approve << "";
  }
  void notificationButtonsAnswerOnlyThePendingRequest() {
    QFETCH(bool, request);
    QFETCH(bool, rejectFirst);
    QFETCH(QString, clientId);
    QFETCH(int, action);
    QFETCH(QString, sent);
    QVERIFY(scripted->startHost());
    // A client session made later must not take the buttons from the host.
    ClientSession clientSession(*environment);
    if (request) {
      server->sendJson(joinRequest("c1"));
      QTRY_VERIFY(host()->pendingJoin());
    }
    if (rejectFirst) {
      host()->reject();
      QTRY_COMPARE(ofType("reject").size(), 1);
    }
    const int rejectsBefore = ofType("reject").size();

    environment->notificationsFake.answer(clientId, JoinAction(action));
    QTest::qWait(100);
    if (sent.isEmpty()) {
      QVERIFY(ofType("approve").isEmpty());
      QCOMPARE(ofType("reject").size(), rejectsBefore);
      QVERIFY(!host()->approved());
      QVERIFY(environment->capturers.empty());
      QCOMPARE(host()->pendingJoin(), request && !rejectFirst);
    } else {
      QCOMPARE(ofType(sent).size(), 1);
      QCOMPARE(ofType(sent).first().value("target").toString(), clientId);
      QCOMPARE(host()->approved(), sent == "approve");
    }
  }

  // Key frames from the control channel's opening until the client shows a
  // picture: a lost first picture must not wait for a still screen's refresh.
  void keyFramesUntilTheClientShowsAPicture() {
    QVERIFY(scripted->hostWithClient());
    auto& source = scripted->source();
    auto* channel = scripted->connection()->channels.front().get();
    channel->state_ = rtc::DataChannelState::Open;
    channel->observer->onStateChange(rtc::DataChannelState::Open);
    QTRY_COMPARE(source.keyFrames.load(), 1);
    environment->clockFake.advance(300);
    QCOMPARE(source.keyFrames.load(), 2);  // not shown yet: again
    control(kPictureShownMessage);
    QCoreApplication::sendPostedEvents();  // the word comes as the library's callbacks do
    environment->clockFake.advance(5000);
    QCOMPARE(source.keyFrames.load(), 2);
  }

  // ------------------------------------------------------- the client's input --

  void controlMessagesReachTheInjectorInArrivalOrder() {
    QVERIFY(scripted->hostWithClient());
    // One burst, as the library delivers it: the modifier held around the click.
    control(R"({"t":"mod","k":"shift","d":true})");
    control(R"({"t":"mdown","b":0,"x":0.25,"y":0.5})");
    control(R"({"t":"mup","b":0,"x":0.25,"y":0.5})");
    control(R"({"t":"mod","k":"shift","d":false})");
    control(R"({"t":"keydown","keyCode":0})");
    control(R"({"t":"keyup","key":"é"})");
    control(R"({"t":"drag","b":0,"x":0.5,"y":0.5})");
    control(R"({"t":"scroll","x":0.5,"y":0.5,"dx":0,"dy":120})");
    control(R"({"t":"doubleclick","b":1,"x":0.5,"y":0.5})");
    QTRY_COMPARE(injected(), (QStringList{"mod(shift,1)", "button(L,1,640,720)", "button(L,0,640,720)", "mod(shift,0)",
                                          "key(0,1)", "type(é,0)", "drag(L,1280,720)", "scroll(1280,720,0,120)",
                                          "doubleClick(R)"}));
  }

  void endReleasesWhatTheClientStillHeld() {
    QVERIFY(scripted->hostWithClient());
    control(R"({"t":"mdown","b":1,"x":0.5,"y":0.5})");
    control(R"({"t":"drag","b":1,"x":0.75,"y":0.5})");
    control(R"({"t":"keydown","keyCode":12})");
    control(R"({"t":"mod","k":"cmd","d":true})");
    QTRY_VERIFY(injected().contains("mod(cmd,1)"));  // all held now (what is still queued at the end is dropped)
    host()->stop("Session terminée par l’hôte");
    QTRY_VERIFY(injected().contains("releaseAllModifiers"));
    const QStringList calls = injected();
    QCOMPARE(calls.mid(calls.size() - 3), (QStringList{"key(12,0)", "button(R,0,1920,720)", "releaseAllModifiers"}));
  }

  void withoutPermissionEveryMessageIsDroppedAndWarned() {
    QVERIFY(scripted->hostWithClient());
    environment->mayControl = false;
    control(R"({"t":"move","x":0.5})");
    control(R"({"t":"keydown","keyCode":3})");
    QTRY_COMPARE(host()->logs().filter("Autorise l'app dans Confidentialité > Accessibilité").size(), 2);
    environment->mayControl = true;
    QVERIFY(injected().isEmpty());
  }

  // ------------------------------------------------------------ the picture --

  // What the client asks by signal; values out of range or of the wrong type
  // change neither the picture, nor the display, nor where the pointer lands.
  void clientRequests_data() {
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<QString>("format");    // the source's format after it
    QTest::addColumn<int>("display");       // the shared display after it
    QTest::addColumn<QString>("origin");    // where a move to (0,0) lands after it
    const QString unchanged = "2560x1440@25";
    const auto quality = [](const QJsonValue& v) { return QJsonObject{{"type", "quality"}, {"value", v}}; };
    const auto display = [](const QJsonValue& v) { return QJsonObject{{"type", "switchDisplay"}, {"displayIndex", v}}; };
    const auto named = [](const QJsonValue& v) { return QJsonObject{{"type", "videoGeometry"}, {"displayID", v}}; };
    QTest::newRow("epic") << quality("epic") << "2560x1440@60" << 0 << "move(0,0)";
    QTest::newRow("unknown quality") << quality("ultra") << unchanged << 0 << "move(0,0)";
    QTest::newRow("quality not a string") << quality(3) << unchanged << 0 << "move(0,0)";
    QTest::newRow("second display") << display(1) << "1920x1080@25" << 1 << "move(2560,0)";
    QTest::newRow("display index equal to the length") << display(2) << unchanged << 0 << "move(0,0)";
    QTest::newRow("negative display index") << display(-1) << unchanged << 0 << "move(0,0)";
    QTest::newRow("second display named by id") << named(2) << unchanged << 0 << "move(2560,0)";
    QTest::newRow("display id too large") << named(4294967296.0) << unchanged << 0 << "move(0,0)";
  }
  void clientRequests() {
    QFETCH(QJsonObject, request);
    QFETCH(QString, format);
    QFETCH(int, display);
    QFETCH(QString, origin);
    QVERIFY(scripted->hostWithClient());
    QTRY_COMPARE(host()->availableDisplays().size(), 2);
    server->sendJson(signalMessage(request));
    QTest::qWait(200);  // an ignored request shows no sign
    QTRY_COMPARE(QString::fromStdString(lastFormat()), format);
    QTRY_COMPARE(host()->currentDisplayIndex(), display);
    control(R"({"t":"move","x":0,"y":0})");
    QTRY_COMPARE(injected().value(injected().size() - 1), origin);
  }

  // The picture follows the profile and the display; a held button raises the rate only.
  void sourceFollowsProfileDisplayAndBoost() {
    QVERIFY(scripted->hostWithClient());
    // The profile's limits reach the sender from the first offer on (its
    // encodings exist only from then).
    const auto firstLimit = [&] {
      const auto& senders = scripted->connection()->senderList;
      const auto encodings = senders.empty() ? std::vector<rtc::RtpEncoding>{} : senders.front()->encodings();
      return encodings.empty() ? 0 : encodings.front().maxBitrateBps.value_or(0);
    };
    QTRY_COMPARE(firstLimit(), settingsOf(kDefaultQuality).maxBitrateBps);
    QTRY_COMPARE(host()->availableDisplays().size(), 2);
    QCOMPARE(host()->availableDisplays().at(1).toMap().value("name").toString(), QString("Écran 2"));
    QTRY_VERIFY(!payloads("displays").isEmpty());
    const QJsonArray displays = payloads("displays").last().value("displays").toArray();
    QCOMPARE(displays, (QJsonArray{QJsonObject{{"index", 0}, {"name", "Écran 1"}, {"resolution", "2560x1440"}, {"id", 1}},
                                   QJsonObject{{"index", 1}, {"name", "Écran 2"}, {"resolution", "1920x1080"}, {"id", 2}}}));
    QCOMPARE(lastFormat(), std::string("2560x1440@25"));
    auto click = [&](bool down) {
      control(down ? R"({"t":"mdown","x":0.5,"y":0.5})" : R"({"t":"mup","x":0.5,"y":0.5})");
    };

    // A switch restarts the capture, centres the pointer, tells the display's size.
    const int starts = scripted->capturer().startCount();
    server->sendJson(signalMessage({{"type", "switchDisplay"}, {"displayIndex", 1}}));
    QTRY_COMPARE(lastFormat(), std::string("1920x1080@25"));
    QTRY_COMPARE(injected(), QStringList{"move(3520,540)"});
    QTRY_COMPARE(scripted->capturer().startCount(), starts + 1);
    QTRY_COMPARE(payloads("videoGeometry").last().value("displayID").toInt(), 2);
    click(true);
    QTRY_COMPARE(lastFormat(), std::string("1920x1080@60"));
    QCOMPARE(scripted->capturer().frameRate(), 60);
    click(false);
    QTRY_COMPARE(lastFormat(), std::string("1920x1080@25"));
    server->sendJson(signalMessage({{"type", "switchDisplay"}, {"displayIndex", 0}}));
    QTRY_COMPARE(lastFormat(), std::string("2560x1440@25"));
    QTRY_COMPARE(payloads("videoGeometry").last().value("width").toInt(), 2560);

    server->sendJson(signalMessage({{"type", "quality"}, {"value", "low"}}));
    QTRY_COMPARE(lastFormat(), std::string("1280x720@15"));
    QCOMPARE(payloads("videoGeometry").last().value("width").toInt(), 2560);  // the display's size
    click(true);
    click(true);
    QTRY_COMPARE(lastFormat(), std::string("1280x720@60"));
    click(false);
    QTest::qWait(100);
    QCOMPARE(lastFormat(), std::string("1280x720@60"));  // one button still held
    click(false);
    QTRY_COMPARE(lastFormat(), std::string("1280x720@15"));
    QCOMPARE(scripted->capturer().frameRate(), 15);
    control(R"({"t":"mup"})");  // no press before: nothing
    QTest::qWait(100);
    QCOMPARE(scripted->capturer().frameRate(), 15);
    // Epic: never larger than the display; its limits go to the sender (the
    // link, not the profile, sets the floor), the geometry to the client.
    server->sendJson(signalMessage({{"type", "switchDisplay"}, {"displayIndex", 1}}));
    QTRY_COMPARE(payloads("videoGeometry").last().value("displayID").toInt(), 2);  // the switch's
    const int geometries = payloads("videoGeometry").size();
    server->sendJson(signalMessage({{"type", "quality"}, {"value", "epic"}}));
    QTRY_COMPARE(lastFormat(), std::string("1920x1080@60"));
    const auto encodings = scripted->connection()->senderList.front()->encodings();
    QCOMPARE(encodings.front().maxBitrateBps.value_or(0), 30'000'000);
    QCOMPARE(encodings.front().minBitrateBps.value_or(0), HostMedia::kLinkFloorBps);
    QTRY_COMPARE(payloads("videoGeometry").size(), geometries + 1);
    QCOMPARE(payloads("videoGeometry").last(), (QJsonObject{{"type", "videoGeometry"}, {"width", 1920}, {"height", 1080},
                                                            {"activeDisplay", 1}, {"displayID", 2}}));
  }

  // A press queued when its connection closes is not done later, nor raises
  // the next session's frame rate.
  void aPressFromAnEndedConnectionDoesNothingLater() {
    QVERIFY(scripted->hostWithClient());
    // Shared with the hook: the input thread still calls it during cleanup.
    auto gate = std::make_shared<QSemaphore>();
    auto held = std::make_shared<std::atomic<bool>>(false);
    QThread* main = QThread::currentThread();
    scripted->injector().beforeEachCall = [gate, held, main] {
      if (QThread::currentThread() == main) return;  // the input thread only
      *held = true;
      gate->acquire();
    };
    control(R"({"t":"move","x":0.1,"y":0.1})");
    QTRY_VERIFY(held->load());  // the input thread is in the move
    control(R"({"t":"mdown","x":0.5,"y":0.5})");
    host()->stop("Session terminée par l’hôte");
    environment->clockFake.advance(HostSession::kRestartDelayMs);
    QTRY_COMPARE_WITH_TIMEOUT(ofType("create").size(), 2, 5000);
    environment->clockFake.advance(HostSession::kEndCooldown);  // the join cooldown after an end
    server->sendJson(joinRequest("c2"));
    QTRY_VERIFY(host()->pendingJoin());
    host()->approve();
    QTRY_COMPARE(payloads("offer").size(), 2);
    QTRY_COMPARE(lastFormat(), std::string("2560x1440@25"));
    gate->release(1'000'000);
    QTRY_VERIFY(injected().contains("move(256,144)"));  // the move it was held in
    QTest::qWait(300);
    QVERIFY(!injected().contains("button(L,1,1280,720)"));
    QCOMPARE(lastFormat(), std::string("2560x1440@25"));
    QCOMPARE(scripted->capturer().frameRate(), 25);
  }

  // A client the server let in unattended: ended at once where the screen
  // needs a person here; elsewhere nothing is captured before its proof.
  void unattendedClientIsTurnedAwayWhenTheScreenNeedsAPerson_data() {
    QTest::addColumn<QString>("needsPerson");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("a person must choose the screen")
        << "Le portail de bureau doit demander à une personne de choisir l’écran" << true;
    QTest::newRow("the screen needs nobody, the password not proved") << "" << true;
    QTest::newRow("unattended access off") << "" << false;
  }
  void unattendedClientIsTurnedAwayWhenTheScreenNeedsAPerson() {
    QFETCH(QString, needsPerson);
    QFETCH(bool, enabled);
    environment->needsPerson = needsPerson;
    environment->profileStore().setUnattendedEnabled(enabled);
    QVERIFY(scripted->startHost());
    server->sendJson({{"type", "peer-joined"}, {"clientId", "c1"}, {"unattended", true}});
    if (!enabled) {
      QTRY_VERIFY(!host()->logs().filter("⛔ Client sans accord ignoré").isEmpty());
      QVERIFY(!scripted->connection());
      QVERIFY(environment->capturers.empty());
    } else if (!needsPerson.isEmpty()) {
      QTRY_COMPARE(payloads("end").size(), 1);
      QCOMPARE(payloads("end").first().value("reason").toString(), needsPerson);
      QTRY_COMPARE(host()->endReason(), needsPerson);
      QVERIFY(!host()->logs().filter("⛔ " + needsPerson).isEmpty());
      QVERIFY(environment->capturers.empty());
    } else {
      QTRY_COMPARE(host()->status(), Status::CheckingPassword);
      QVERIFY(environment->capturers.empty());
      QVERIFY(!host()->approved());
      QVERIFY(payloads("end").isEmpty());
    }
  }

  // Sharing stopped from the desktop's indicator ends the session (no frozen
  // picture that the client's next request would bring back unasked).
  void stoppingTheShareOnTheDesktopEndsTheSession() {
    QVERIFY(scripted->hostWithClient());
    const QString why = "Le partage de l’écran a été arrêté sur l’ordinateur partagé";
    scripted->capturer().failPermanently({"Wayland", CaptureError::kStoppedHere, why});
    QTRY_COMPARE(host()->endReason(), why);
    QTRY_COMPARE(payloads("end").size(), 1);
    QCOMPARE(payloads("end").first().value("reason").toString(), why);
  }

  // The desktop's dialog asks the person what to share: the client hears it
  // and its timeout, and waits that long rather than the connection's 15 s.
  void thePersonChoosingIsToldToTheClient() {
    QVERIFY(scripted->startHost());
    server->sendJson(joinRequest("c1"));
    QTRY_VERIFY(host()->pendingJoin());
    host()->approve();
    QTRY_VERIFY(!environment->capturers.empty());
    scripted->capturer().askPerson(120'000);
    QTRY_COMPARE(payloads("host-choosing").size(), 1);
    QCOMPARE(payloads("host-choosing").first().value("timeoutMs").toInt(), 120'000);
  }

  // A dead capture is reported; a hard refresh starts one fitted to the
  // profile, in the display's proportions.
  void deadCaptureIsReportedAndHardRefreshStartsANewOne() {
    environment->displayList = StaticDisplayList({{1, 1920, 1200, QRect(0, 0, 1920, 1200)}});
    QVERIFY(scripted->hostWithClient());
    server->sendJson(signalMessage({{"type", "quality"}, {"value", "low"}}));
    QTRY_COMPARE(host()->currentQuality(), QualityProfile::Low);
    SyntheticScreenCapturer& capturer = scripted->capturer();
    capturer.failPermanently();
    QTRY_COMPARE(host()->statusDetail(), QString("Erreur: Capture interrompue"));
    QVERIFY(!capturer.hasStream());
    const uint32_t frames = capturer.framesDelivered();
    const int geometries = payloads("videoGeometry").size();
    server->sendJson(signalMessage({{"type", "hard-refresh-request"}}));
    QTRY_VERIFY(capturer.hasStream());
    QCOMPARE(capturer.lastStartSize(), QSize(1152, 720));
    QTRY_VERIFY(capturer.framesDelivered() > frames + 2);
    QTRY_COMPARE(payloads("videoGeometry").size(), geometries + 1);
    QCOMPARE(payloads("videoGeometry").last().value("height").toInt(), 1200);
  }

  // A hard refresh (a new offer) asked while the offer awaits its answer waits.
  void hardRefreshWaitsForTheAnswerToTheOffer() {
    QVERIFY(scripted->hostWithClient());
    auto* pc = scripted->connection();
    server->sendJson(signalMessage({{"type", "hard-refresh-request"}}));
    QTRY_VERIFY(logged("♻️ ICE restart (nouvelle offre)"));
    QTest::qWait(100);
    QCOMPARE(pc->iceRestarts, 0);
    QCOMPARE(payloads("offer").size(), 1);

    server->sendJson(signalMessage(
        {{"type", "answer"}, {"sdp", QJsonObject{{"type", "answer"}, {"sdp", "v=0\r\n"}}}}));
    QTRY_COMPARE(payloads("offer").size(), 2);
    QCOMPARE(pc->iceRestarts, 1);
    QCOMPARE(pc->remoteDescriptions.size(), size_t(1));
  }
};

QTEST_GUILESS_MAIN(HostSessionTest)
#include "host_session_test.moc"
