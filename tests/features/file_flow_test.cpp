// SPDX-License-Identifier: GPL-3.0-or-later
// Files between a host and a client session in one process, through the
// real lunor-signal and real WebRTC over loopback: transfers that outlive
// an ICE restart and the server, that go on after the connection is cut,
// that either side cancels, and a piece altered on the way.

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "recording_rtc.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "features/feature_exchange.h"
#include "features/session_features.h"
#include "features/received_parts.h"
#include "session_probe.h"
#include "signal_server_process.h"

using namespace lunor;
using State = TransferProgress::State;

namespace {

constexpr char kRoom[] = "552019385";
const QString kShared = QStringLiteral("🧩 Fonctions communes : presse-papiers, fichiers");

struct Side : test::SessionSide {
  Side(const QUrl& server, const QString& folder,
       std::shared_ptr<test::RtcRecord> record = std::make_shared<test::RtcRecord>())
      : SessionSide(server,
                    [record] { return std::make_unique<test::RecordingFactory>(rtc::createWebRtcFactory(), record); }),
        record(std::move(record)),
        folder(folder) {
    files().setReceiveFolder(folder);
    // The host's person takes every file (a client takes them unasked).
    QObject::connect(&files(), &FeatureExchange::fileOffered, session.get(),
                     [this](const QString& transfer) { files().acceptFile(transfer); });
  }
  FeatureExchange& files() { return SessionFeatures::of(session->features()).exchange(); }
  // This side's transfer going the given way, if any.
  std::optional<FeatureExchange::Transfer> transfer(bool outgoing) {
    for (const auto& t : files().transfers()) {
      if (t.outgoing == outgoing) return t;
    }
    return std::nullopt;
  }
  State state(bool outgoing) {
    const auto t = transfer(outgoing);
    return t ? t->progress.state : State::Waiting;
  }
  int64_t confirmed(bool outgoing) {
    const auto t = transfer(outgoing);
    return t ? t->progress.confirmed : 0;
  }
  QStringList received() const { return QDir(folder).entryList(QDir::Files); }
  std::shared_ptr<test::RtcRecord> record;
  QString folder;
};

QByteArray digestOf(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return hash.result();
}

// A file of noise of `mib` MiB.
QString makeFile(const QTemporaryDir& dir, const QString& name, int mib) {
  const QString path = dir.filePath(name);
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly)) return {};
  QByteArray block(1 << 20, Qt::Uninitialized);
  for (int i = 0; i < mib; ++i) {
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    out.write(block);
  }
  return path;
}

// A server, a host and a client with folders of their own, met and agreed
// on files; the client's connection may be recorded and altered.
struct Meeting {
  explicit Meeting(std::shared_ptr<test::RtcRecord> clientRecord = std::make_shared<test::RtcRecord>())
      : server(std::make_unique<test::SignalServerProcess>()),
        host(server->url(), folders.filePath("host")),
        client(server->url(), folders.filePath("client"), std::move(clientRecord)) {}
  bool met() {
    return server->isListening() && test::meet(*host.session, *client.session, kRoom) &&
           QTest::qWaitFor([&] { return host.logged(kShared) && client.logged(kShared); }, 15000);
  }
  QTemporaryDir folders;
  std::unique_ptr<test::SignalServerProcess> server;
  Side host;
  Side client;
};

constexpr int kLong = 180000;  // a sanitized build on a loaded machine is slow

}  // namespace

class FileFlowTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() {
    rtc::initialiseWebRtcLibrary();
    QVERIFY(dir_.isValid());
    big_ = makeFile(dir_, QStringLiteral("outil.iso"), 48);
    small_ = makeFile(dir_, QStringLiteral("journal.log"), 12);
    QVERIFY(!big_.isEmpty() && !small_.isEmpty());
  }

  // Both ways at once; an ICE restart and then the server's death half way:
  // neither transfer starts over, both arrive whole.
  void transfersOutliveAnIceRestartAndTheServer() {
    Meeting m;
    QVERIFY(m.met());
    auto& [folders, server, host, client] = m;
    QVERIFY(client.files().sendFile(big_));
    QVERIFY(host.files().sendFile(small_));
    QTRY_VERIFY_WITH_TIMEOUT(host.confirmed(false) >= 4 << 20, kLong);
    client.session->requestHardRefresh();
    QTRY_VERIFY_WITH_TIMEOUT(host.logged(QStringLiteral("♻️ ICE restart (nouvelle offre)")), 10000);
    // The client's answer to the new offer: new ICE credentials on both sides.
    QTRY_VERIFY_WITH_TIMEOUT(host.record->remoteSnapshot().size() >= 2, 20000);
    // The signaling server goes, killed, then stopped in order after a
    // restart: the peers need it no more, and must not be told otherwise.
    const QStringList arguments{QStringLiteral("--port"), QString::number(server->port())};
    server->process().kill();
    server->process().waitForFinished(5000);
    server = std::make_unique<test::SignalServerProcess>(arguments);
    QVERIFY(server->isListening());
    QTest::qWait(2000);
    server.reset();

    QTRY_COMPARE_WITH_TIMEOUT(host.state(false), State::Done, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(false), State::Done, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(true), State::Done, 10000);  // the receiver's word is on its way
    QTRY_COMPARE_WITH_TIMEOUT(host.state(true), State::Done, 10000);
    QCOMPARE(host.transfer(false)->progress.resumedFrom, 0);  // one pass, never restarted
    QCOMPARE(host.received(), QStringList{"outil.iso"});
    QCOMPARE(client.received(), QStringList{"journal.log"});
    QCOMPARE(digestOf(folders.filePath("host/outil.iso")), digestOf(big_));
    QCOMPARE(digestOf(folders.filePath("client/journal.log")), digestOf(small_));
    QVERIFY(host.session->running());
  }

  // The connection is lost half way (nobody ends the session): the next
  // session to the same host offers the file again by itself, and the host
  // goes on from the part it kept. An end someone means instead cancels
  // the transfer on both sides, and nothing comes back with the next one.
  void onlyALostConnectionResumes_data() {
    QTest::addColumn<bool>("lost");
    QTest::newRow("the connection is lost") << true;
    QTest::newRow("the client ends the session") << false;
  }
  void onlyALostConnectionResumes() {
    QFETCH(bool, lost);
    Meeting m;
    QVERIFY(m.met());
    auto& [folders, server, host, client] = m;
    QVERIFY(client.files().sendFile(big_));
    QTRY_VERIFY_WITH_TIMEOUT(host.confirmed(false) >= 4 << 20, kLong);
    if (lost) {
      // Both ends at once, as a network that goes does it; neither says goodbye.
      for (Side* side : {&host, &client}) {
        if (auto connection = side->record->connections.back().lock()) connection->close();
      }
    } else {
      client.session->stop(QStringLiteral("Session terminée par le client"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!host.session->approved() && !client.session->running(), 15000);
    const QDir parts(folders.filePath("host/") + ReceivedParts::kPartsFolder);
    const QStringList kept = parts.entryList({"*.part"}, QDir::Files);
    QCOMPARE(kept.size(), lost ? 1 : 0);
    QCOMPARE(host.received(), QStringList());
    const int64_t held = lost ? QFileInfo(parts.filePath(kept.front())).size() : 0;
    QVERIFY(!lost || held >= 4 << 20);
    // Seen, and cancellable, while it waits for the next connection.
    QCOMPARE(client.state(true), lost ? State::Interrupted : State::Waiting);

    QTRY_VERIFY_WITH_TIMEOUT(host.session->status() == "En attente de connexion...", 15000);
    QTest::qWait(2500);  // the host lets nobody in for a moment after a session
    QVERIFY(test::askToJoin(*client.session, *host.session, kRoom));
    host.session->approve();
    QTRY_VERIFY_WITH_TIMEOUT(client.loggedCount(kShared) == 2 && host.loggedCount(kShared) == 2, 20000);
    if (!lost) {
      QTest::qWait(1000);
      QVERIFY(!client.logged(QStringLiteral("📁 Reprise de l’envoi de outil.iso")));
      QVERIFY(!host.transfer(false));
      return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(client.logged(QStringLiteral("📁 Reprise de l’envoi de outil.iso")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(host.state(false), State::Done, kLong);
    QVERIFY(host.transfer(false)->progress.resumedFrom >= held - (1 << 20));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(true), State::Done, 10000);
    QCOMPARE(host.received(), QStringList{"outil.iso"});
    QCOMPARE(digestOf(folders.filePath("host/outil.iso")), digestOf(big_));
  }

  // More files in one connection than the association has channels: each
  // channel closes with its transfer, the files beyond the first few wait
  // their turn, and none is turned away.
  void manyFilesInOneConnection() {
    Meeting m;
    QVERIFY(m.met());
    QTemporaryDir many;
    constexpr int kFiles = 540;
    for (int i = 0; i < kFiles; ++i) {
      QFile file(many.filePath(QString("n%1.txt").arg(i)));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QByteArray::number(i));
      file.close();
      QVERIFY(m.client.files().sendFile(file.fileName()));
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
    QTest::newRow("client sends and cancels") << true << true;
    QTest::newRow("host sends, client cancels") << false << false;
    QTest::newRow("host sends and cancels") << false << true;
  }
  void cancellingLeavesNoPart() {
    QFETCH(bool, clientSends);
    QFETCH(bool, senderCancels);
    Meeting m;
    QVERIFY(m.met());
    Side& host = m.host;
    Side& client = m.client;
    Side& sender = clientSends ? client : host;
    Side& receiver = clientSends ? host : client;
    QVERIFY(sender.files().sendFile(big_));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.confirmed(false) >= 2 << 20, kLong);
    Side& canceller = senderCancels ? sender : receiver;
    canceller.files().cancelFile(canceller.transfer(senderCancels)->id);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.state(false), State::Cancelled, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sender.state(true), State::Cancelled, 20000);
    QTest::qWait(300);  // pieces still on their way must not bring a part back
    QCOMPARE(receiver.received(), QStringList());
    QVERIFY(host.session->running() && client.session->running());
  }

  // A piece altered on the way (after DTLS, as a fault of ours would): the
  // digest catches it, the part goes, both sides say so.
  void anAlteredPieceIsCaught() {
    auto record = std::make_shared<test::RtcRecord>();
    record->corruptFilePiece = 100;
    Meeting m(record);
    QVERIFY(m.met());
    Side& host = m.host;
    Side& client = m.client;
    QVERIFY(client.files().sendFile(small_));
    QTRY_COMPARE_WITH_TIMEOUT(host.state(false), State::Failed, kLong);
    QCOMPARE(host.transfer(false)->progress.reason, QStringLiteral("empreinte SHA-256 différente : fichier supprimé"));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(true), State::Failed, 20000);
    QCOMPARE(client.transfer(true)->progress.reason, QStringLiteral("empreinte SHA-256 différente"));
    QCOMPARE(host.received(), QStringList());
    QTRY_VERIFY(host.logged(QStringLiteral("📁 Réception de journal.log arrêtée : empreinte SHA-256 différente : fichier supprimé")));
  }

 private:
  QTemporaryDir dir_;
  QString big_, small_;
};

QTEST_MAIN(FileFlowTest)
#include "file_flow_test.moc"
