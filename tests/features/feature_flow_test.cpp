// SPDX-License-Identifier: GPL-3.0-or-later
// The clipboard and files between a host and a client session in one process,
// through the real lunor-signal and real WebRTC over loopback.

#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>

#include <QtTest>

#include "image_compare.h"
#include "protocol/control_message.h"
#include "recording_rtc.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "features/feature_exchange.h"
#include "features/session_features.h"
#include "features/received_parts.h"
#include "session_probe.h"
#include "signal_server_process.h"
#include "test_files.h"

using namespace lunor;
using State = TransferProgress::State;
using test::digestOf;
using test::RtcRecord;

namespace {

constexpr char kRoom[] = "552019385";
const QString kShared = QStringLiteral("🧩 Fonctions communes : presse-papiers, fichiers");

struct Side : test::SessionSide {
  Side(Role role, const QUrl& server, const QString& folder,
       std::shared_ptr<RtcRecord> record = std::make_shared<RtcRecord>())
      : SessionSide(role, server,
                    [record] { return std::make_unique<test::RecordingFactory>(rtc::createWebRtcFactory(), record); }),
        record(std::move(record)),
        folder(folder) {
    files().setReceiveFolder(folder);
    // The host's person takes every file (a client takes them unasked).
    QObject::connect(&files(), &FeatureExchange::fileOffered, session.get(),
                     [this](const QString& transfer) { files().acceptFile(transfer); });
  }
  FeatureExchange& files() { return SessionFeatures::of(session->features()).exchange(); }
  FakeClipboard& clipboard() { return environment.clipboardFake; }
  // Log lines that start with `text`.
  int linesFrom(const QString& text) const {
    const QStringList logs = session->logs();
    return int(std::count_if(logs.begin(), logs.end(), [&](const QString& l) { return l.contains("] " + text); }));
  }
  // This side's transfer going the given way, if any, and how far it is.
  std::optional<FeatureExchange::Transfer> transfer(bool outgoing) {
    for (const auto& t : files().transfers()) {
      if (t.outgoing == outgoing) return t;
    }
    return std::nullopt;
  }
  TransferProgress progress(bool outgoing) {
    const auto t = transfer(outgoing);
    return t ? t->progress : TransferProgress{};
  }
  QStringList received() const { return QDir(folder).entryList(QDir::Files); }
  std::shared_ptr<RtcRecord> record;
  QString folder;
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

// The ICE user fragment of a description.
QString iceUfrag(const std::string& sdp) {
  return QRegularExpression("a=ice-ufrag:(\\S+)").match(QString::fromStdString(sdp)).captured(1);
}

// A server, a host and a client with folders of their own, met and (unless
// the client is a basic peer) agreed on the features.
struct Meeting {
  explicit Meeting(std::shared_ptr<RtcRecord> clientRecord = std::make_shared<RtcRecord>())
      : server(std::make_unique<test::SignalServerProcess>()),
        host(Role::Host, server->url(), folders.filePath("host")),
        client(Role::Client, server->url(), folders.filePath("client"), std::move(clientRecord)) {}
  bool met() {
    return server->isListening() && test::meet(host.asHost(), client.asClient(), kRoom) &&
           (client.record->basicPeer ? QTest::qWaitFor([&] { return client.session->isControlChannelOpen(); }, 10000)
                                     : QTest::qWaitFor([&] { return host.logged(kShared) && client.logged(kShared); }, 15000));
  }
  QTemporaryDir folders;
  std::unique_ptr<test::SignalServerProcess> server;
  Side host;
  Side client;
};

constexpr int kLong = 180000;  // a sanitized build on a loaded machine is slow

}  // namespace

class FeatureFlowTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() {
    rtc::initialiseWebRtcLibrary();
    QVERIFY(dir_.isValid());
    big_ = test::randomFile(dir_.filePath("outil.iso"), 48);
    small_ = test::randomFile(dir_.filePath("journal.log"), 12);
    QVERIFY(!big_.isEmpty() && !small_.isEmpty());
  }

  // The answer puts H264 first; the client says once that it shows the
  // picture (under load the word was lost); the picture follows the quality
  // asked. Then the clipboards follow each other.
  void clipboardsFollowEachOtherWithoutEcho() {
    Meeting m;
    auto& [folders, server, host, client] = m;
    QVERIFY(m.met());
    const QString answer = QString::fromStdString(host.record->snapshot(&RtcRecord::remoteSdps).back());
    const QString videoTypes = QRegularExpression(R"(m=video \d+ [A-Z/]+ (\d+))").match(answer).captured(1);
    QVERIFY(answer.contains(QStringLiteral("a=rtpmap:%1 H264/").arg(videoTypes)));
    const auto pictureWords = [&record = *client.record] {
      const auto sent = record.snapshot(&RtcRecord::sentTexts);
      return std::count(sent.begin(), sent.end(), std::string(kPictureShownMessage));
    };
    QTRY_COMPARE_WITH_TIMEOUT(pictureWords(), 1, 30000);
    test::FrameCounter counter(client.asClient().remoteVideoTrack());
    client.asClient().requestQuality("low");
    QTRY_COMPARE_WITH_TIMEOUT(counter.size(), QSize(1280, 720), 30000);

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

    // The host's person switches receiving off: the client's copies stay there.
    host.files().clipboard().setReceiving(false);
    client.clipboard().userCopies({QStringLiteral("pas pour toi"), {}, {}});
    QTRY_VERIFY_WITH_TIMEOUT(client.linesFrom(QStringLiteral("📋 Presse-papiers envoyé")) == 2, 15000);
    QTest::qWait(500);
    QVERIFY(host.clipboard().content == picture);  // its own copy, not replaced
    QCOMPARE(host.environment.settings().value(FeatureExchange::kClipboardReceiveKey).toBool(), false);
  }

  void aBasicPeerGetsNothingNew() {
    auto basic = std::make_shared<RtcRecord>();
    basic->basicPeer = true;
    Meeting m(basic);
    auto& [folders, server, host, client] = m;
    host.clipboard().content = {QStringLiteral("secret"), {}, {}};
    QVERIFY(m.met());
    client.clipboard().userCopies({QStringLiteral("hello"), {}, {}});
    // Nor is a file offered to it.
    QVERIFY(!SessionFeatures::of(host.session->features()).filesShared());
    QVERIFY(!host.files().sendFile(small_));
    QTest::qWait(1500);
    // The host announced itself once on "control", and said who it is on
    // "proof" (which such a peer leaves alone); nothing else.
    QCOMPARE(host.record->snapshot(&RtcRecord::channelLabels), (std::vector<std::string>{"control", "proof"}));
    auto sent = host.record->snapshot(&RtcRecord::sentTexts);
    std::sort(sent.begin(), sent.end());
    QCOMPARE(sent.size(), size_t(2));
    QVERIFY(QString::fromStdString(sent[0]).contains(QStringLiteral("\"t\":\"features\"")));
    QVERIFY(QString::fromStdString(sent[1]).contains(QStringLiteral("\"t\":\"hello\"")));
    QVERIFY(!host.logged(kShared));
    QCOMPARE(client.clipboard().content.text, QStringLiteral("hello"));  // its own, nothing from the host
    QCOMPARE(host.clipboard().content.text, QStringLiteral("secret"));
  }

  // Both ways at once; an ICE restart and then the server's death half way:
  // neither transfer starts over, both arrive whole.
  void transfersOutliveAnIceRestartAndTheServer() {
    Meeting m;
    QVERIFY(m.met());
    auto& [folders, server, host, client] = m;
    QVERIFY(client.files().sendFile(big_));
    QVERIFY(host.files().sendFile(small_));
    QTRY_VERIFY_WITH_TIMEOUT(host.progress(false).confirmed >= 4 << 20, kLong);
    const size_t answers = host.record->snapshot(&RtcRecord::remoteSdps).size();
    client.asClient().requestHardRefresh();
    QTRY_VERIFY_WITH_TIMEOUT(host.logged(QStringLiteral("♻️ ICE restart (nouvelle offre)")), 10000);
    // The client's answer to the new offer: new ICE credentials on both sides.
    QTRY_VERIFY_WITH_TIMEOUT(host.record->snapshot(&RtcRecord::remoteSdps).size() > answers, 20000);
    const auto offers = host.record->snapshot(&RtcRecord::localSdps);
    QVERIFY(iceUfrag(offers.back()) != iceUfrag(offers.front()));
    // The signaling server goes, killed, then stopped in order after a
    // restart: the peers need it no more, and must not be told otherwise.
    const QStringList arguments{QStringLiteral("--port"), QString::number(server->port())};
    server->process().kill();
    server->process().waitForFinished(5000);
    server = std::make_unique<test::SignalServerProcess>(arguments);
    QVERIFY(server->isListening());
    QTest::qWait(2000);
    server.reset();

    QTRY_COMPARE_WITH_TIMEOUT(host.progress(false).state, State::Done, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(client.progress(false).state, State::Done, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(client.progress(true).state, State::Done, 10000);  // the receiver's word is on its way
    QTRY_COMPARE_WITH_TIMEOUT(host.progress(true).state, State::Done, 10000);
    QCOMPARE(host.transfer(false)->progress.resumedFrom, 0);  // one pass, never restarted
    QCOMPARE(host.received(), QStringList{"outil.iso"});
    QCOMPARE(client.received(), QStringList{"journal.log"});
    QCOMPARE(digestOf(folders.filePath("host/outil.iso")), digestOf(big_));
    QCOMPARE(digestOf(folders.filePath("client/journal.log")), digestOf(small_));
    QVERIFY(host.session->running());
  }

  // A connection lost half way: the next session offers the file again by
  // itself and the host goes on from its part. An end someone means cancels
  // on both sides instead, and nothing comes back.
  void onlyALostConnectionResumes_data() {
    QTest::addColumn<bool>("lost");
    // The host sees the file's channel close before it hears the end.
    QTest::addColumn<bool>("channelsFirst");
    QTest::newRow("the connection is lost") << true << false;
    QTest::newRow("the client ends the session") << false << false;
    QTest::newRow("the client ends it, its channels closing first") << false << true;
  }
  void onlyALostConnectionResumes() {
    QFETCH(bool, lost);
    QFETCH(bool, channelsFirst);
    Meeting m;
    QVERIFY(m.met());
    auto& [folders, server, host, client] = m;
    QVERIFY(client.files().sendFile(big_));
    QTRY_VERIFY_WITH_TIMEOUT(host.progress(false).confirmed >= 4 << 20, kLong);
    if (lost) {
      // Both ends at once, as a network that goes does it; neither says goodbye.
      for (Side* side : {&host, &client}) {
        if (auto connection = side->record->connections.back().lock()) connection->close();
      }
    } else {
      if (channelsFirst) {
        std::vector<std::shared_ptr<rtc::DataChannel>> files;
        {
          std::lock_guard lock(client.record->mutex);
          for (const auto& weak : client.record->channels) {
            if (auto channel = weak.lock(); channel && channel->label().rfind("file:", 0) == 0) files.push_back(channel);
          }
        }
        QCOMPARE(files.size(), size_t(1));
        files.front()->close();
        // A channel's close waits for what is buffered on it.
        QTRY_COMPARE_WITH_TIMEOUT(host.progress(false).state, State::Failed, kLong);
      }
      client.session->stop(QStringLiteral("Session terminée par le client"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!host.asHost().approved() && !client.session->running(), 15000);
    const QDir parts(folders.filePath("host/") + ReceivedParts::kPartsFolder);
    // The cancel may reach the host's receiver just after its session ends.
    QTRY_COMPARE_WITH_TIMEOUT(parts.entryList({"*.part"}, QDir::Files).size(), lost ? 1 : 0, 15000);
    const QStringList kept = parts.entryList({"*.part"}, QDir::Files);
    QCOMPARE(host.received(), QStringList());
    const int64_t held = lost ? QFileInfo(parts.filePath(kept.front())).size() : 0;
    QVERIFY(!lost || held >= 4 << 20);
    // Seen, and cancellable, while it waits for the next connection.
    QCOMPARE(client.progress(true).state, lost ? State::Interrupted : State::Waiting);

    QTRY_VERIFY_WITH_TIMEOUT(host.session->status() == Status::RoomOpen, 15000);
    host.environment.clockFake.advance(HostSession::kEndCooldown);  // the host lets nobody in for a moment after one
    QVERIFY(test::askToJoin(client.asClient(), host.asHost(), kRoom));
    host.asHost().approve();
    QTRY_VERIFY_WITH_TIMEOUT(client.loggedCount(kShared) == 2 && host.loggedCount(kShared) == 2, 20000);
    if (!lost) {
      QTest::qWait(1000);
      QVERIFY(!client.logged(QStringLiteral("📁 Reprise de l’envoi de outil.iso")));
      QVERIFY(!host.transfer(false));
      return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(client.logged(QStringLiteral("📁 Reprise de l’envoi de outil.iso")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(host.progress(false).state, State::Done, kLong);
    QVERIFY(host.transfer(false)->progress.resumedFrom >= held - (1 << 20));
    QTRY_COMPARE_WITH_TIMEOUT(client.progress(true).state, State::Done, 10000);
    QCOMPARE(host.received(), QStringList{"outil.iso"});
    QCOMPARE(digestOf(folders.filePath("host/outil.iso")), digestOf(big_));
  }

  // More files than the association has channels: each waits its turn.
  void manyFilesInOneConnection() {
    Meeting m;
    QVERIFY(m.met());
    QTemporaryDir many;
    constexpr int kFiles = 540;
    for (int i = 0; i < kFiles; ++i) {
      const QString path = many.filePath(QString("n%1.txt").arg(i));
      QVERIFY(test::writeFile(path, QByteArray::number(i)) && m.client.files().sendFile(path));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m.host.received().size(), kFiles, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(m.client.files().transfers().size() <= size_t(FeatureExchange::kMaxEndedRows), 10000);
    for (const auto& t : m.client.files().transfers()) QCOMPARE(t.progress.state, State::Done);
    QVERIFY(m.host.session->running());
  }

  void cancellingLeavesNoPart_data() {
    QTest::addColumn<bool>("clientSends");
    QTest::addColumn<bool>("senderCancels");
    QTest::newRow("client sends, host cancels") << true << false;
    QTest::newRow("host sends and cancels") << false << true;
  }
  void cancellingLeavesNoPart() {
    QFETCH(bool, clientSends);
    QFETCH(bool, senderCancels);
    Meeting m;
    QVERIFY(m.met());
    auto& [folders, server, host, client] = m;
    Side& sender = clientSends ? client : host;
    Side& receiver = clientSends ? host : client;
    QVERIFY(sender.files().sendFile(big_));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.progress(false).confirmed >= 2 << 20, kLong);
    Side& canceller = senderCancels ? sender : receiver;
    canceller.files().cancelFile(canceller.transfer(senderCancels)->id);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.progress(false).state, State::Cancelled, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sender.progress(true).state, State::Cancelled, 20000);
    QTest::qWait(300);  // pieces still on their way must not bring a part back
    QCOMPARE(receiver.received(), QStringList());
    QVERIFY(host.session->running() && client.session->running());
  }

 private:
  QTemporaryDir dir_;
  QString big_, small_;
};

QTEST_MAIN(FeatureFlowTest)
#include "feature_flow_test.moc"
