// SPDX-License-Identifier: GPL-3.0-or-later
// The shared clipboard between a host and a client session in one process,
// through the real lunor-signal and real WebRTC over loopback.

#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QtTest>

#include "image_compare.h"
#include "recording_rtc.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "features/feature_exchange.h"
#include "features/session_features.h"
#include "session_probe.h"
#include "signal_server_process.h"

using namespace lunor;

namespace {

constexpr char kRoom[] = "552019384";
const QString kShared = QStringLiteral("🧩 Fonctions communes : presse-papiers, fichiers");

struct Side : test::SessionSide {
  explicit Side(const QUrl& server, std::shared_ptr<test::RtcRecord> record = std::make_shared<test::RtcRecord>())
      : SessionSide(server,
                    [record] { return std::make_unique<test::RecordingFactory>(rtc::createWebRtcFactory(), record); }),
        record(std::move(record)) {}
  FakeClipboard& clipboard() { return environment.clipboardFake; }
  ClipboardSync& sync() { return SessionFeatures::of(session->features()).exchange().clipboard(); }
  // Log lines that start with `text`.
  int linesFrom(const QString& text) const {
    const QStringList logs = session->logs();
    return int(std::count_if(logs.begin(), logs.end(), [&](const QString& l) { return l.contains("] " + text); }));
  }
  std::shared_ptr<test::RtcRecord> record;
};

// Noise does not compress: a PNG file about as large as the picture.
QImage noise(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  auto* random = QRandomGenerator::global();
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) line[x] = random->generate() | 0xff000000u;
  }
  return image;
}

}  // namespace

class ClipboardFlowTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() { rtc::initialiseWebRtcLibrary(); }

  void clipboardsFollowEachOtherWithoutEcho() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Side host(server.url());
    Side client(server.url());
    // Copied before the session (a password, say): it stays on its side.
    host.clipboard().content = {QStringLiteral("déjà là"), {}, {}};
    QVERIFY(test::meet(*host.session, *client.session, kRoom));
    QTRY_VERIFY_WITH_TIMEOUT(host.logged(kShared) && client.logged(kShared), 15000);

    // Text with HTML, client to host; nothing comes back.
    const ClipboardContent styled{QStringLiteral("gras"), QStringLiteral("<b>gras</b>"), {}};
    client.clipboard().userCopies(styled);
    QTRY_VERIFY_WITH_TIMEOUT(host.clipboard().content == styled, 10000);
    // A large picture, host to client: more than the channel's buffer.
    const ClipboardContent picture{{}, {}, test::pngBytes(noise(1400, 1000))};  // ~5.6 MB
    QVERIFY(picture.png.size() > 4'000'000);
    host.clipboard().userCopies(picture);
    QTRY_VERIFY_WITH_TIMEOUT(client.clipboard().content == picture, 30000);
    QTest::qWait(500);
    QCOMPARE(host.linesFrom(QStringLiteral("📋 Presse-papiers envoyé")), 1);    // the picture
    QCOMPARE(client.linesFrom(QStringLiteral("📋 Presse-papiers envoyé")), 1);  // the styled text
    QCOMPARE(host.clipboard().writes, 1);
    QCOMPARE(client.clipboard().writes, 1);

    // Too long: skipped with a line, the other side keeps what it had.
    client.clipboard().userCopies({QString(PeerFeatures::kClipboardTextMax + 1, 'a'), {}, {}});
    QTRY_COMPARE(client.linesFrom(QStringLiteral("📋 Presse-papiers non envoyé : texte trop long")), 1);

    // The host's person switches receiving off: the client's copies stay there.
    host.sync().setReceiving(false);
    client.clipboard().userCopies({QStringLiteral("pas pour toi"), {}, {}});
    QTRY_VERIFY(client.linesFrom(QStringLiteral("📋 Presse-papiers envoyé")) == 2);
    QTest::qWait(500);
    QVERIFY(host.clipboard().content == picture);  // its own copy, not replaced
    QCOMPARE(host.environment.settings().value(FeatureExchange::kClipboardReceiveKey).toBool(), false);
  }

  void aBasicPeerGetsNothingNew() {
    test::SignalServerProcess server;
    QVERIFY(server.isListening());
    Side host(server.url());
    auto basic = std::make_shared<test::RtcRecord>();
    basic->basicPeer = true;
    Side client(server.url(), basic);
    host.clipboard().content = {QStringLiteral("secret"), {}, {}};
    QVERIFY(test::meet(*host.session, *client.session, kRoom));
    QTRY_VERIFY_WITH_TIMEOUT(client.session->isControlChannelOpen(), 10000);
    client.clipboard().userCopies({QStringLiteral("hello"), {}, {}});
    // Nor is a file offered to it.
    QTemporaryFile file;
    QVERIFY(file.open() && file.write("x") == 1 && file.flush());
    QVERIFY(!SessionFeatures::of(host.session->features()).filesShared());
    QVERIFY(!SessionFeatures::of(host.session->features()).exchange().sendFile(file.fileName()));
    QTest::qWait(1500);
    // The host announced itself once on "control" and opened nothing else.
    QCOMPARE(host.record->channelsSnapshot(), std::vector<std::string>{"control"});
    const auto sent = host.record->sentSnapshot();
    QCOMPARE(sent.size(), size_t(1));
    QVERIFY(QString::fromStdString(sent[0]).contains(QStringLiteral("\"t\":\"features\"")));
    QVERIFY(!host.logged(kShared));
    QCOMPARE(client.clipboard().content.text, QStringLiteral("hello"));  // its own, nothing from the host
    QCOMPARE(host.clipboard().content.text, QStringLiteral("secret"));
  }
};

QTEST_GUILESS_MAIN(ClipboardFlowTest)
#include "clipboard_flow_test.moc"
