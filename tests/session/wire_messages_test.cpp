// SPDX-License-Identifier: GPL-3.0-or-later
// The messages of the control channel and of the signaling server: what a
// hostile or sloppy peer can send, and that what we send reads back as sent.

#include <QtTest>

#include "protocol/control_message.h"
#include "protocol/signaling_messages.h"

using namespace lunor;

Q_DECLARE_METATYPE(std::optional<lunor::ControlMessage>)
Q_DECLARE_METATYPE(std::optional<int64_t>)

namespace {

ControlMessage make(ControlMessage::Type type, std::function<void(ControlMessage&)> fill = {}) {
  ControlMessage message;
  message.type = type;
  if (fill) fill(message);
  return message;
}

}  // namespace

class WireMessagesTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void controlMessagesDecodeWithTheirDefaults_data() {
    using T = ControlMessage::Type;
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<ControlMessage>>("expected");
    const std::optional<ControlMessage> none;
    QTest::newRow("move without coordinates") << QByteArray(R"({"t":"move"})") << std::optional(make(T::Move));
    QTest::newRow("coordinates of the wrong type")
        << QByteArray(R"({"t":"move","x":"1","y":true})") << std::optional(make(T::Move));
    QTest::newRow("b 1.5 is button 0") << QByteArray(R"({"t":"mdown","b":1.5,"x":0.5,"y":0.5})")
                                       << std::optional(make(T::MouseDown, [](auto& m) { m.x = m.y = 0.5; }));
    QTest::newRow("b 7 is button 0") << QByteArray(R"({"t":"mup","b":7})") << std::optional(make(T::MouseUp));
    QTest::newRow("middle button, second display") << QByteArray(R"({"t":"mdown","b":2,"displayIndex":1})")
                                                   << std::optional(make(T::MouseDown, [](auto& m) {
                                                        m.button = 2;
                                                        m.displayIndex = 1;
                                                      }));
    QTest::newRow("keyCode wins over key") << QByteArray(R"({"t":"keydown","keyCode":12,"key":"a"})")
                                           << std::optional(make(T::KeyDown, [](auto& m) {
                                                m.keyCode = 12;
                                                m.down = true;
                                              }));
    QTest::newRow("fractional keyCode falls back to key")
        << QByteArray(R"({"t":"keyup","keyCode":1.5,"key":"é"})")
        << std::optional(make(T::KeyUp, [](auto& m) { m.character = u'é'; }));
    QTest::newRow("keyCode too large") << QByteArray(R"({"t":"keydown","keyCode":70000})") << none;
    QTest::newRow("keyCode negative") << QByteArray(R"({"t":"keydown","keyCode":-1})") << none;
    QTest::newRow("key message with nothing to type") << QByteArray(R"({"t":"keydown","key":""})") << none;
    QTest::newRow("character beyond U+FFFF") << QByteArray(R"({"t":"keydown","key":"😀"})") << none;
    QTest::newRow("mod") << QByteArray(R"({"t":"mod","k":"cmd","d":false})")
                         << std::optional(make(T::Modifier, [](auto& m) { m.modifier = Modifier::Cmd; }));
    QTest::newRow("mod without d") << QByteArray(R"({"t":"mod","k":"shift"})") << none;
    QTest::newRow("mod with a string d") << QByteArray(R"({"t":"mod","k":"shift","d":"true"})") << none;
    QTest::newRow("mod of an unknown key") << QByteArray(R"({"t":"mod","k":"Shift","d":true})") << none;
    QTest::newRow("huge scroll is bounded") << QByteArray(R"({"t":"scroll","dx":1e300,"dy":-1e300})")
                                            << std::optional(make(T::Scroll, [](auto& m) {
                                                 m.dx = 2147483647.0;
                                                 m.dy = -2147483647.0;
                                               }));
    QTest::newRow("fields the type does not use")
        << QByteArray(R"({"t":"keydown","keyCode":1,"x":2,"b":1})")
        << std::optional(make(T::KeyDown, [](auto& m) {
             m.keyCode = 1;
             m.down = true;
           }));
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

  void integersInRange_data() {
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<std::optional<int64_t>>("expected");
    QTest::newRow("in range") << QJsonValue(7) << std::optional<int64_t>(7);
    QTest::newRow("upper bound") << QJsonValue(4294967295.0) << std::optional<int64_t>(4294967295);
    QTest::newRow("past it") << QJsonValue(4294967296.0) << std::optional<int64_t>();
    QTest::newRow("below") << QJsonValue(-1) << std::optional<int64_t>();
    QTest::newRow("fraction") << QJsonValue(0.5) << std::optional<int64_t>();
    QTest::newRow("string") << QJsonValue("7") << std::optional<int64_t>();
  }
  void integersInRange() {
    QFETCH(QJsonValue, value);
    QFETCH(std::optional<int64_t>, expected);
    QCOMPARE(json::integerIn(value, 0, UINT32_MAX), expected);
  }

  void candidatesAreTypeChecked_data() {
    QTest::addColumn<QJsonObject>("candidate");
    QTest::addColumn<bool>("valid");
    const QJsonObject good{{"candidate", "candidate:1 1 udp 1 127.0.0.1 5000 typ host"},
                           {"sdpMid", "0"},
                           {"sdpMLineIndex", 0}};
    QTest::newRow("valid") << good << true;
    auto with = [&](const char* key, const QJsonValue& value) {
      QJsonObject changed = good;
      if (value.isUndefined()) {
        changed.remove(key);
      } else {
        changed[key] = value;
      }
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

  // Names and reasons the other side chose are shown in panels and written
  // to terminals: nothing in them may act as a control sequence, reverse
  // the text around them or grow without end.
  void peerTextIsFitToShow_data() {
    QTest::addColumn<QString>("name");      // the "displayName" sent; null: none
    QTest::addColumn<QString>("expected");  // as shown; null: none
    QTest::newRow("plain") << "Zoé Martin" << "Zoé Martin";
    QTest::newRow("markup stays text") << "<b>Bob</b><br><img src=x>" << "<b>Bob</b><br><img src=x>";
    QTest::newRow("terminal escapes") << "Eve\x1b[2K\r\x1b[1AAllow? [y/N] y" << "Eve[2K [1AAllow? [y/N] y";
    QTest::newRow("bidirectional override") << QString("Bob") + QChar(0x202E) + "txt.exe" << "Bobtxt.exe";
    QTest::newRow("lines and tabs become spaces") << "  Ann\n\n\tLee  " << "Ann Lee";
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("only controls and spaces") << "\x07 \x1b \u2028" << QString();
    QTest::newRow("missing") << QString() << QString();
    QTest::newRow("long") << QString(100, 'a') << QString(63, 'a') + QChar(0x2026);
    // Cut before a character that takes two code units, not through it.
    QTest::newRow("long, with emoji at the cut")
        << QString(62, 'a') + QString::fromUtf8("😀😀") << QString(62, 'a') + QChar(0x2026);
  }
  void peerTextIsFitToShow() {
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QJsonObject request{{"type", "join-request"}, {"clientId", "c1"}};
    if (!name.isNull()) request.insert("displayName", name);
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
};

QTEST_GUILESS_MAIN(WireMessagesTest)
#include "wire_messages_test.moc"
