// SPDX-License-Identifier: GPL-3.0-or-later
#include <QImage>
#include <QJsonDocument>
#include <QtTest>

#include "image_compare.h"
#include "protocol/clipboard_wire.h"
#include "protocol/peer_features.h"
#include "features/clipboard_sync.h"
#include "system/fake_clipboard.h"

using namespace lunor;

namespace {

QByteArray png(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  for (int i = 0; i < std::min(width, height); ++i) image.setPixel(i, i, 0xffffffu);
  return test::pngBytes(image);
}

// A PNG file's first bytes declaring `width` × `height`, and nothing else.
QByteArray pngHeaderOnly(quint32 width, quint32 height) {
  QByteArray bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (quint32 v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.append(char((v >> shift) & 0xff));
  }
  return bytes + QByteArray(17, '\0');
}

QByteArray header(const QJsonObject& fields) {
  QJsonObject object = fields;
  object["t"] = "clip";
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Feeds every message; the results that are not Pending.
QList<ClipboardAssembler::Result> feed(ClipboardAssembler& assembler, const std::vector<WireMessage>& messages) {
  QList<ClipboardAssembler::Result> results;
  for (const auto& m : messages) {
    auto r = assembler.take(m.data, m.binary);
    if (r.outcome != ClipboardAssembler::Outcome::Pending) results << r;
  }
  return results;
}

}  // namespace

Q_DECLARE_METATYPE(ClipboardContent)
Q_DECLARE_METATYPE(std::vector<WireMessage>)
Q_DECLARE_METATYPE(std::optional<PeerFeatures>)

class ClipboardWireTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void roundTrip_data() {
    QTest::addColumn<ClipboardContent>("content");
    QTest::newRow("plain text") << ClipboardContent{"ls -la ~/Downloads", {}, {}};
    QTest::newRow("text and HTML") << ClipboardContent{"gras", "<b>gras</b>", {}};
    QTest::newRow("accents, CJK and an emoji across chunk edges")
        << ClipboardContent{QString("é漢😀").repeated(3000), {}, {}};
    QTest::newRow("text of exactly one chunk") << ClipboardContent{QString(kClipboardChunkBytes, 'a'), {}, {}};
    QTest::newRow("one byte more than a chunk") << ClipboardContent{QString(kClipboardChunkBytes + 1, 'a'), {}, {}};
    QTest::newRow("a picture") << ClipboardContent{{}, {}, png(640, 400)};
    QTest::newRow("text at the limit") << ClipboardContent{QString(PeerFeatures::kClipboardTextMax, 'x'), {}, {}};
  }
  void roundTrip() {
    QFETCH(ClipboardContent, content);
    const auto messages = encodeClipboard(content, 7);
    for (size_t i = 1; i < messages.size(); ++i) {
      QVERIFY(messages[i].binary);
      QVERIFY(messages[i].data.size() <= kClipboardChunkBytes);
    }
    ClipboardAssembler assembler(ourFeatures());
    const auto results = feed(assembler, messages);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].outcome, ClipboardAssembler::Outcome::Complete);
    QVERIFY(results[0].content == content);
    QCOMPARE(results[0].content.digest(), content.digest());
  }

  void refused_data() {
    QTest::addColumn<std::vector<WireMessage>>("messages");
    QTest::addColumn<QString>("reason");
    const QByteArray chunk(kClipboardChunkBytes, 'z');
    QTest::newRow("text over 1 MiB, refused from its header")
        << std::vector<WireMessage>{{header({{"text", double(PeerFeatures::kClipboardTextMax + 1)}}), false}}
        << "texte trop long";
    QTest::newRow("HTML over 1 MiB")
        << std::vector<WireMessage>{{header({{"text", 3}, {"html", double(PeerFeatures::kClipboardTextMax + 1)}}), false}}
        << "texte trop long";
    QTest::newRow("a PNG file over 16 MiB")
        << std::vector<WireMessage>{{header({{"png", double(PeerFeatures::kClipboardImageMax + 1)}}), false}}
        << "image trop grande";
    const QByteArray bomb = pngHeaderOnly(20000, 20000);  // 1.6 GB decoded, 41 bytes sent
    QTest::newRow("a small PNG file of a huge picture, refused undecoded")
        << std::vector<WireMessage>{{header({{"png", double(bomb.size())}}), false}, {bomb, true}} << "image trop grande";
    QTest::newRow("a picture that is no PNG")
        << std::vector<WireMessage>{{header({{"png", 4}}), false}, {"GIF8", true}} << "image illisible";
    for (const auto& [name, value] : std::vector<std::pair<const char*, QJsonValue>>{
             {"a negative size", -1}, {"a fractional size", 1.5}, {"a size as text", "12"}}) {
      QTest::newRow(name) << std::vector<WireMessage>{{header({{"text", value}}), false}} << "en-tête illisible";
    }
    QTest::newRow("more bytes than announced")
        << std::vector<WireMessage>{{header({{"text", 4}}), false}, {"12345", true}} << "plus d’octets";
  }
  void refused() {
    QFETCH(std::vector<WireMessage>, messages);
    QFETCH(QString, reason);
    ClipboardAssembler assembler(ourFeatures());
    const auto results = feed(assembler, messages);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].outcome, ClipboardAssembler::Outcome::Refused);
    QVERIFY2(results[0].reason.startsWith(reason), qPrintable(results[0].reason));
    // The channel goes on: the next content arrives whole.
    const ClipboardContent next{"suivant", {}, {}};
    const auto after = feed(assembler, encodeClipboard(next, 8));
    QCOMPARE(after.size(), 1);
    QVERIFY(after[0].content == next);
  }

  // A content refused by its size (its bytes still arrive) or left
  // unfinished (a new header comes) is passed over: neither kept nor
  // mistaken for the next content, which arrives whole.
  void theNextContentArrivesWhole_data() {
    QTest::addColumn<bool>("unfinished");
    QTest::newRow("refused, its bytes still coming") << false;
    QTest::newRow("never finished") << true;
  }
  void theNextContentArrivesWhole() {
    QFETCH(bool, unfinished);
    PeerFeatures limits = ourFeatures();
    if (!unfinished) limits.clipboardTextMax = 100;
    ClipboardAssembler assembler(limits);
    auto first = encodeClipboard({QString(40'000, 'a'), {}, {}}, 1);
    if (unfinished) first.pop_back();
    const auto results = feed(assembler, first);
    QCOMPARE(results.size(), unfinished ? 0 : 1);
    if (!unfinished) QCOMPARE(results[0].outcome, ClipboardAssembler::Outcome::Refused);
    const ClipboardContent next{"b", {}, {}};
    const auto after = feed(assembler, encodeClipboard(next, 2));
    QCOMPARE(after.size(), 1);
    QVERIFY(after[0].content == next);
  }

  void senderRefusal_data() {
    QTest::addColumn<ClipboardContent>("content");
    QTest::addColumn<bool>("refused");
    QTest::newRow("small text") << ClipboardContent{"a", {}, {}} << false;
    QTest::newRow("text over the limit") << ClipboardContent{QString(PeerFeatures::kClipboardTextMax + 1, 'a'), {}, {}}
                                         << true;
    QTest::newRow("a 2048×2048 picture (16 MiB decoded)") << ClipboardContent{{}, {}, pngHeaderOnly(2048, 2048)}
                                                          << false;
    QTest::newRow("a 2049×2048 picture") << ClipboardContent{{}, {}, pngHeaderOnly(2049, 2048)} << true;
  }
  void senderRefusal() {
    QFETCH(ClipboardContent, content);
    QFETCH(bool, refused);
    QCOMPARE(clipboardRefusal(content, ourFeatures()).has_value(), refused);
  }

  // A copy during the session goes, what the clipboard held before does
  // not; a picture too large is refused by its size before it is read
  // (and encoded) at all.
  void syncSendsOnlyWhatFitsAndIsCopiedLater() {
    FakeClipboard clipboard;
    clipboard.content = {"avant la session", {}, {}};
    QStringList log;
    ClipboardSync sync(clipboard, [&](const QString& line) { log << line; });
    int sent = 0;
    sync.start(commonFeatures(ourFeatures(), ourFeatures()), [&](std::vector<WireMessage>) { ++sent; });
    QCOMPARE(sent, 0);
    clipboard.userCopies({{}, {}, pngHeaderOnly(3840, 2160)});
    QCOMPARE(sent, 0);
    QCOMPARE(clipboard.reads, 0);
    QVERIFY2(log.last().contains("image trop grande (3840×2160"), qPrintable(log.join('\n')));
    clipboard.userCopies({"pendant", {}, {}});
    QCOMPARE(sent, 1);
  }

  void features_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<std::optional<PeerFeatures>>("decoded");
    PeerFeatures none;
    PeerFeatures clip;
    clip.clipboard = true;
    PeerFeatures smaller = clip;
    smaller.clipboardTextMax = 1000;
    QTest::newRow("ours, as sent") << encodePeerFeatures(ourFeatures()) << std::optional(ourFeatures());
    QTest::newRow("no features") << QByteArray(R"({"t":"features"})") << std::optional(none);
    PeerFeatures both = clip;
    both.files = true;
    QTest::newRow("clipboard and files") << QByteArray(R"({"t":"features","features":["files","clipboard"]})")
                                         << std::optional(both);
    QTest::newRow("unknown names skipped")
        << QByteArray(R"({"t":"features","features":["teleport",3,"clipboard"]})") << std::optional(clip);
    QTest::newRow("a smaller limit kept") << QByteArray(R"({"t":"features","features":["clipboard"],"clipboardText":1000})")
                                          << std::optional(smaller);
    QTest::newRow("limits above ours, negative or fractional count as ours")
        << QByteArray(R"({"t":"features","features":["clipboard"],"clipboardText":1e12,"clipboardImage":-5})")
        << std::optional(clip);
    PeerFeatures separate;
    separate.separateSession = true;
    QTest::newRow("a separate session") << QByteArray(R"({"t":"features","session":"separate"})")
                                        << std::optional(separate);
    QTest::newRow("a session not named separate") << QByteArray(R"({"t":"features","session":true})")
                                                  << std::optional(none);
    QTest::newRow("another message") << QByteArray(R"({"t":"move","x":0.5})") << std::optional<PeerFeatures>();
  }
  void features() {
    QFETCH(QByteArray, json);
    QFETCH(std::optional<PeerFeatures>, decoded);
    QCOMPARE(decodePeerFeatures(QJsonDocument::fromJson(json).object()), decoded);
  }

  void commonFeaturesNeedBothSides() {
    QVERIFY(!commonFeatures(ourFeatures(), PeerFeatures{}).clipboard);  // a peer that announced nothing
    PeerFeatures theirs = ourFeatures();
    theirs.clipboardImageMax = 1 << 20;
    const PeerFeatures common = commonFeatures(ourFeatures(), theirs);
    QVERIFY(common.clipboard);
    QCOMPARE(common.clipboardImageMax, 1 << 20);
  }
};

QTEST_GUILESS_MAIN(ClipboardWireTest)
#include "clipboard_wire_test.moc"
