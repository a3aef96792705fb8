// SPDX-License-Identifier: GPL-3.0-or-later
// Control and signaling messages as hostile peers send them and as we send
// them; the names files are saved under; the offers we rewrite.

#include <QTemporaryDir>
#include <QtTest>

#include "protocol/control_message.h"
#include "protocol/file_names.h"
#include "protocol/incoming_messages.h"
#include "protocol/sdp_rewrite.h"
#include "protocol/server_messages.h"
#include "protocol/signaling_messages.h"
#include "test_files.h"

using namespace lunor;

Q_DECLARE_METATYPE(std::optional<lunor::ControlMessage>)

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

class WireMessagesTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void controlMessagesDecodeWithTheirDefaults_data() {
    using T = ControlMessage::Type;
    using M = ControlMessage;
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<ControlMessage>>("expected");
    const std::optional<ControlMessage> none;
    QTest::newRow("move without coordinates") << QByteArray(R"({"t":"move"})") << std::optional(M{.type = T::Move});
    QTest::newRow("coordinates of the wrong type")
        << QByteArray(R"({"t":"move","x":"1","y":true})") << std::optional(M{.type = T::Move});
    QTest::newRow("b 1.5 is button 0") << QByteArray(R"({"t":"mdown","b":1.5,"x":0.5,"y":0.5})")
                                       << std::optional(M{.type = T::MouseDown, .x = 0.5, .y = 0.5});
    QTest::newRow("b 7 is button 0") << QByteArray(R"({"t":"mup","b":7})") << std::optional(M{.type = T::MouseUp});
    QTest::newRow("middle button, second display")
        << QByteArray(R"({"t":"mdown","b":2,"displayIndex":1})")
        << std::optional(M{.type = T::MouseDown, .button = 2, .displayIndex = 1});
    QTest::newRow("keyCode wins over key") << QByteArray(R"({"t":"keydown","keyCode":12,"key":"a"})")
                                           << std::optional(M{.type = T::KeyDown, .keyCode = 12, .down = true});
    QTest::newRow("fractional keyCode falls back to key") << QByteArray(R"({"t":"keyup","keyCode":1.5,"key":"é"})")
                                                          << std::optional(M{.type = T::KeyUp, .character = u'é'});
    QTest::newRow("keyCode too large") << QByteArray(R"({"t":"keydown","keyCode":70000})") << none;
    QTest::newRow("keyCode negative") << QByteArray(R"({"t":"keydown","keyCode":-1})") << none;
    QTest::newRow("key message with nothing to type") << QByteArray(R"({"t":"keydown","key":""})") << none;
    QTest::newRow("character beyond U+FFFF") << QByteArray(R"({"t":"keydown","key":"😀"})") << none;
    QTest::newRow("mod") << QByteArray(R"({"t":"mod","k":"cmd","d":false})")
                         << std::optional(M{.type = T::Modifier, .modifier = Modifier::Cmd});
    QTest::newRow("mod without d") << QByteArray(R"({"t":"mod","k":"shift"})") << none;
    QTest::newRow("mod with a string d") << QByteArray(R"({"t":"mod","k":"shift","d":"true"})") << none;
    QTest::newRow("mod of an unknown key") << QByteArray(R"({"t":"mod","k":"Shift","d":true})") << none;
    QTest::newRow("huge scroll is bounded")
        << QByteArray(R"({"t":"scroll","dx":1e300,"dy":-1e300})")
        << std::optional(M{.type = T::Scroll, .dx = 2147483647.0, .dy = -2147483647.0});
    QTest::newRow("fields the type does not use") << QByteArray(R"({"t":"keydown","keyCode":1,"x":2,"b":1})")
                                                  << std::optional(M{.type = T::KeyDown, .keyCode = 1, .down = true});
    QTest::newRow("unknown type") << QByteArray(R"({"t":"teleport","x":1})") << none;
    QTest::newRow("no type") << QByteArray(R"({"x":1})") << none;
    QTest::newRow("an array") << QByteArray(R"([{"t":"move"}])") << none;
    QTest::newRow("not JSON") << QByteArray(R"({"t":"move")") << none;
  }
  void controlMessagesDecodeWithTheirDefaults() {
    QFETCH(QByteArray, text);
    QFETCH(std::optional<ControlMessage>, expected);
    QCOMPARE(decodeControlMessage(text), expected);
    // What the client writes, the host reads as it was.
    if (expected) QCOMPARE(decodeControlMessage(encodeControlMessage(*expected)), expected);
  }

  void candidatesAreTypeChecked_data() {
    QTest::addColumn<QJsonObject>("candidate");
    QTest::addColumn<bool>("valid");
    const QJsonObject good{
        {"candidate", "candidate:1 1 udp 1 127.0.0.1 5000 typ host"}, {"sdpMid", "0"}, {"sdpMLineIndex", 0}};
    QTest::newRow("valid") << good << true;
    auto with = [&](const char* key, const QJsonValue& value) {
      QJsonObject changed = good;
      changed.remove(key);
      if (!value.isUndefined()) changed.insert(key, value);
      return changed;
    };
    QTest::newRow("index as a string") << with("sdpMLineIndex", "0") << false;
    QTest::newRow("no sdpMid") << with("sdpMid", QJsonValue::Undefined) << false;
    QTest::newRow("index past 32 bits") << with("sdpMLineIndex", 2147483648.0) << false;
    QTest::newRow("fractional index") << with("sdpMLineIndex", 0.5) << false;
    QTest::newRow("line not a string") << with("candidate", 3) << false;
  }
  void candidatesAreTypeChecked() {
    QFETCH(QJsonObject, candidate);
    QFETCH(bool, valid);
    const auto read = signaling::candidateOf({{"type", "ice"}, {"candidate", candidate}});
    QCOMPARE(read.has_value(), valid);
    if (valid) QCOMPARE(signaling::icePayload(*read).value("candidate").toObject(), candidate);
  }

  void geometryAndDisplayList() {
    const auto geometry = signaling::videoGeometryOf(
        {{"width", 1920.5}, {"height", 1080}, {"activeDisplay", -1}, {"displayID", 4294967295.0}});
    QCOMPARE(geometry.width, 0);
    QCOMPARE(geometry.height, 1080);
    QVERIFY(!geometry.activeDisplay);
    QCOMPARE(geometry.displayId, std::optional<uint32_t>(4294967295u));

    const std::vector<DisplayEntry> sent{{0, "Écran 1", "2560x1440", 7}, {1, "Écran 2", "1920x1080", 9}};
    std::vector<DisplayEntry> read = signaling::displaysOf(signaling::displaysPayload(sent));
    QCOMPARE(read.size(), size_t(2));
    QCOMPARE(read[1].resolution, QString("1920x1080"));
    QCOMPARE(read[1].id, 0u);  // the client does not read the host's identifiers
  }

  // The server's answers, as they travel (the wire the macOS application
  // and the web page read too), and every one a type the application reads.
  void serverAnswersOnTheWire_data() {
    namespace out = server_messages;
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("wire");
    const std::vector<rtc::IceServer> relay{{{"turn:h:3478?transport=udp"}, "9:c1", "p"}};
    QTest::newRow("peer-joined, to the host") << out::encode(out::peerJoined("c1", true, relay, "Zoé", "QUJD"))
        << QByteArray(R"({"avatar":"QUJD","clientId":"c1","displayName":"Zoé","iceServers":[{"credential":"p",)"
                      R"("urls":["turn:h:3478?transport=udp"],"username":"9:c1"}],"type":"peer-joined","unattended":true})");
    QTest::newRow("peer-joined, to the client, no relay") << out::encode(out::peerJoined("h1", false, {}))
        << QByteArray(R"({"clientId":"h1","type":"peer-joined","unattended":false})");
    QTest::newRow("join-request without a picture") << out::encode(out::joinRequest("c1", "", true, true, {}))
        << QByteArray(R"({"awaitingPassword":true,"clientId":"c1","displayName":"","type":"join-request","unattended":true})");
    QTest::newRow("a wrong password") << out::encode(out::unattendedDenied())
                                      << QByteArray(R"({"type":"unattended-denied"})");
    QTest::newRow("the room's day spent") << out::encode(out::unattendedDenied(90'000, true))
        << QByteArray(R"({"locked":true,"retryAfterMs":90000,"type":"unattended-denied"})");
    QTest::newRow("an error") << out::encode(out::error(signaling::ErrorCode::RoomTaken))
                              << QByteArray(R"({"code":"room-taken","type":"error"})");
    QTest::newRow("left") << out::encode(out::bare(signaling::MessageType::Left)) << QByteArray(R"({"type":"left"})");
  }
  void serverAnswersOnTheWire() {
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, wire);
    QCOMPARE(sent, wire);
    const auto read = incoming::decode(QJsonDocument::fromJson(sent).object());
    QVERIFY(read && read->message);
  }

  // What the application asks, as the server reads it.
  void theServerReadsTheApplicationsRequests_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("read");
    const QString hash(64, 'a'), device(64, 'd');
    const auto frame = [](const QJsonObject& message) { return server_messages::encode(message); };
    QTest::newRow("create, unattended") << frame(signaling::create("r1", hash)) << "create r1 " + hash;
    QTest::newRow("create, malformed hash") << frame(signaling::create("r1", "x")) << "create r1 ";
    QTest::newRow("join with everything") << frame(signaling::join("r1", "Zoé", QString("QUJD"), hash, device))
                                          << "join r1 Zoé QUJD " + hash + " " + device;
    QTest::newRow("join, malformed device key") << frame(signaling::join("r1", "Zoé", {}, {}, "D" + device.mid(1)))
                                                << "join r1 Zoé - - ";
    const QByteArray fp("sha-256 AB:CD"), nonce(16, 'n'), commit(32, 'c');
    QTest::newRow("join with a commitment")
        << frame(signaling::join("r1", "Zoé", {}, {}, {}, false, commit)) << "join r1 Zoé - -  sealed";
    QTest::newRow("join, short commitment")
        << frame(signaling::join("r1", "Zoé", {}, {}, {}, false, QByteArray(31, 'c'))) << "join r1 Zoé - - ";
    QTest::newRow("join-code") << frame(signaling::joinCode("c1", fp, nonce)) << "join-code c1 sha-256 AB:CD";
    QTest::newRow("join-reveal") << frame(signaling::joinReveal(fp, nonce)) << "join-reveal  sha-256 AB:CD";
    QTest::newRow("join-reveal, short nonce") << frame(signaling::joinReveal(fp, QByteArray(15, 'n'))) << "join-reveal -";
    QTest::newRow("join-reveal, nonce without padding")
        << QByteArray(R"({"type":"join-reveal","fingerprint":"sha-256 AB","nonce":"bm5ubm5ubm5ubm5ubm5ubg"})")
        << "join-reveal -";
    QTest::newRow("join-code, two lines")
        << frame(signaling::joinCode("c1", "sha-256 AB\na=fingerprint:sha-256 CD", nonce)) << "join-code -";
    QTest::newRow("kick") << frame(signaling::answer("kick", "c1")) << "answer kick c1";
    QTest::newRow("signal") << frame(signaling::signal(signaling::hardRefreshPayload())) << "signal hard-refresh-request";
    QTest::newRow("signal without data") << QByteArray(R"({"type":"signal","data":[]})") << "signal -";
    QTest::newRow("a server's message") << QByteArray(R"({"type":"hello"})") << "unknown hello";
    QTest::newRow("type not a string") << QByteArray(R"({"type":1})") << "malformed missing-type";
    QTest::newRow("an array") << QByteArray(R"([{"type":"join"}])") << "malformed bad-json";
  }
  void theServerReadsTheApplicationsRequests() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, read);
    namespace in = server_messages;
    const auto text = [](const std::optional<QString>& value) { return value.value_or("-"); };
    const QString described = std::visit(
        [&](const auto& r) -> QString {
          using R = std::decay_t<decltype(r)>;
          if constexpr (std::is_same_v<R, in::Malformed>) return QString("malformed %1").arg(signaling::nameOf(r.code));
          if constexpr (std::is_same_v<R, in::Unknown>) return "unknown " + r.type;
          if constexpr (std::is_same_v<R, in::Create>) return "create " + r.roomId + " " + r.unattendedHash;
          if constexpr (std::is_same_v<R, in::Join>) {
            return QStringList{"join", r.roomId, r.displayName, text(r.avatar), text(r.passwordHash), r.deviceKey}.join(' ') +
                   (r.commit.isEmpty() ? "" : " sealed");
          }
          if constexpr (std::is_same_v<R, in::CodePart>) {
            const QString type = signaling::nameOf(r.type);
            return r.part ? QStringList{type, r.part->clientId, QString::fromLatin1(r.part->fingerprint)}.join(' ')
                          : type + " -";
          }
          if constexpr (std::is_same_v<R, in::Answer>) return QString("answer %1 %2").arg(signaling::nameOf(r.type), r.target);
          if constexpr (std::is_same_v<R, in::Signal>) return "signal " + (r.data ? signaling::typeOf(*r.data) : "-");
          return "forget-devices";
        },
        in::decode(frame));
    QCOMPARE(described, read);
  }

  // Names and reasons the other side chose are shown in panels and written
  // to terminals: nothing in them may act as a control sequence, reverse
  // the text around them or grow without end.
  void peerTextIsFitToShow_data() {
    QTest::addColumn<QJsonValue>("name");   // the "displayName" sent; undefined: none
    QTest::addColumn<QString>("expected");  // as shown; null: none
    const auto row = [](const char* tag, const QString& name, const QString& shown) {
      QTest::newRow(tag) << QJsonValue(name) << shown;
    };
    row("plain", "Zoé Martin", "Zoé Martin");
    row("markup stays text", "<b>Bob</b><br><img src=x>", "<b>Bob</b><br><img src=x>");
    row("terminal escapes", "Eve\x1b[2K\r\x1b[1AAllow? [y/N] y", "Eve[2K [1AAllow? [y/N] y");
    row("bidirectional override", QString("Bob") + QChar(0x202E) + "txt.exe", "Bobtxt.exe");
    row("lines and tabs become spaces", "  Ann\n\n\tLee  ", "Ann Lee");
    row("empty", "", QString());
    row("only controls and spaces", "\x07 \x1b \u2028", QString());
    row("long", QString(100, 'a'), QString(63, 'a') + QChar(0x2026));
    // Cut before a character that takes two code units, not through it.
    row("long, with emoji at the cut", QString(62, 'a') + QString::fromUtf8("😀😀"), QString(62, 'a') + QChar(0x2026));
    QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QString();
    QTest::newRow("not a string") << QJsonValue(7) << QString();
  }
  void peerTextIsFitToShow() {
    QFETCH(QJsonValue, name);
    QFETCH(QString, expected);
    QJsonObject request{{"type", "join-request"}, {"clientId", "c1"}};
    if (!name.isUndefined()) request.insert("displayName", name);
    const QString shown = signaling::joinRequest(request).displayName;
    QCOMPARE(shown, expected);
    QCOMPARE(shown.isNull(), expected.isNull());
    QCOMPARE(signaling::peerJoined(request).displayName, expected);
  }

  void endReasonsAreFitToShow_data() {
    QTest::addColumn<QJsonValue>("reason");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a reason") << QJsonValue("Alice s’est déconnecté") << "Alice s’est déconnecté";
    QTest::newRow("none") << QJsonValue() << "Session terminée";
    QTest::newRow("not a string") << QJsonValue(3) << "Session terminée";
    QTest::newRow("nothing left once cleaned") << QJsonValue("\x1b\x07") << "Session terminée";
    QTest::newRow("lines") << QJsonValue("Fin<br>\nVoir <a href=x>ici</a>") << "Fin<br> Voir <a href=x>ici</a>";
    QTest::newRow("long") << QJsonValue(QString(1000, 'x')) << QString(299, 'x') + QChar(0x2026);
  }
  void endReasonsAreFitToShow() {
    QFETCH(QJsonValue, reason);
    QFETCH(QString, expected);
    QJsonObject payload{{"type", "end"}};
    if (!reason.isUndefined() && !reason.isNull()) payload.insert("reason", reason);
    QCOMPARE(signaling::endReasonOf(payload), expected);
  }

  void deviceKeys_data() {
    QTest::addColumn<QJsonValue>("key");
    QTest::addColumn<bool>("kept");
    QTest::newRow("64 lowercase hex") << QJsonValue(QString(64, 'a')) << true;
    QTest::newRow("upper case") << QJsonValue(QString(64, 'A')) << false;
    QTest::newRow("too short") << QJsonValue(QString(63, 'a')) << false;
    QTest::newRow("not hex") << QJsonValue(QString(63, 'a') + "g") << false;
    QTest::newRow("not a string") << QJsonValue(7) << false;
  }
  void deviceKeys() {
    QFETCH(QJsonValue, key);
    QFETCH(bool, kept);
    const QString read = signaling::deviceKeyOf({{"type", "approved"}, {"deviceKey", key}});
    QCOMPARE(read.isNull(), !kept);
    // The join shows it only when there is one.
    const QJsonObject join = signaling::join("123456789", "", std::nullopt, std::nullopt, read);
    QCOMPARE(join.contains("deviceKey"), kept);
  }

  void sanitized_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("saved");
    QTest::newRow("plain") << "rapport.pdf" << "rapport.pdf";
    QTest::newRow("climbing out with ..") << "../../.bashrc" << "bashrc";
    QTest::newRow("a Unix path") << "a/b" << "b";
    QTest::newRow("a Windows path") << "C:\\Users\\x\\notes.txt" << "notes.txt";
    QTest::newRow("only dots") << ".." << "fichier";
    QTest::newRow("empty") << "" << "fichier";
    QTest::newRow("a reserved Windows name is a plain name here") << "CON" << "CON";
    QTest::newRow("control characters") << QString("in\x01voice\x1b[31m\n.txt") << "invoice[31m.txt";
    QTest::newRow("a bell and a delete only") << QString("\x07\x7f") << "fichier";
    QTest::newRow("spaces around") << "  hello.txt  " << "hello.txt";
    QTest::newRow("a direction override") << QString("facture\u202Efdp.desktop") << "facturefdp.desktop";
    QTest::newRow("an isolate and a mark") << QString("\u2067a\u200Fb.txt") << "ab.txt";
  }
  void sanitized() {
    QFETCH(QString, name);
    QFETCH(QString, saved);
    QCOMPARE(sanitizeFileName(name), saved);
  }

  void longNamesFitAndKeepTheirExtension() {
    for (const QString& unit : {QString("a"), QString("é"), QString("😀")}) {
      const QString saved = sanitizeFileName(unit.repeated(10'000) + ".tar.gz");
      QVERIFY(saved.toUtf8().size() <= 255);
      QVERIFY(saved.endsWith(".gz"));
      QVERIFY(saved.startsWith(unit));
      QVERIFY(!saved.contains(QChar(0xfffd)));  // no half character
    }
  }

  void neverOverAnExistingFile() {
    QTemporaryDir dir;
    auto touch = [&](const QString& name) { QVERIFY(test::writeFile(dir.filePath(name), {})); };
    QCOMPARE(unusedFileName(dir.path(), "photo.jpg"), QString("photo.jpg"));
    touch("photo.jpg");
    QCOMPARE(unusedFileName(dir.path(), "photo.jpg"), QString("photo (2).jpg"));
    touch("photo (2).jpg.part");  // one being received counts
    QCOMPARE(unusedFileName(dir.path(), "photo.jpg"), QString("photo (3).jpg"));
    touch("README");
    QCOMPARE(unusedFileName(dir.path(), "README"), QString("README (2)"));
    const QString longName = sanitizeFileName(QString(300, 'x') + ".txt");
    touch(longName);
    const QString numbered = unusedFileName(dir.path(), longName);
    QVERIFY(numbered.endsWith(" (2).txt"));
    QVERIFY(numbered.toUtf8().size() <= 255);
  }

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
    QTest::newRow("only the first video section") << kVideoSection + "m=video 9 RTP/SAVPF 100\r\n"
                                                  << int(QualityProfile::High) << "m=video 9 RTP/SAVPF 116 111 100 101\r"
                                                  << true;
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
    QCOMPARE(result.count("b=AS:"), 1);
    // Untouched lines keep their CR LF; only the two new lines end in LF alone.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
      if (i == video + 1 || i == video + 2) continue;
      QVERIFY2(lines.at(i).endsWith('\r'), qPrintable(lines.at(i)));
    }
  }
};

QTEST_GUILESS_MAIN(WireMessagesTest)
#include "wire_messages_test.moc"
