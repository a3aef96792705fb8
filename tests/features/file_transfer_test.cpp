// SPDX-License-Identifier: GPL-3.0-or-later
#include <csignal>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <QtTest>

#include "features/file_transfer.h"
#include "features/transfer_text.h"
#include "test_files.h"

using namespace lunor;
using State = TransferProgress::State;
using test::randomBytes;
using test::readFile;

namespace {

// A sender and a receiver joined in memory: messages arrive later, in order,
// through the event loop; `buffered` counts the bytes on their way.
struct Hooks {
  std::function<void(QByteArray&, int index)> chunk;  // may change a piece on its way
  int64_t cutAfterBytes = -1;                          // the connection drops after this many
};

struct Options {
  int64_t maxBytes = 1 << 30;
  int64_t freeBytes = int64_t(1) << 40;
  Hooks hooks;
  QString offeredName;                     // the file's own when empty
  QByteArray resumeKey = QByteArray(32, 'k');  // the sender's for this file
  QString peer = QStringLiteral("552019385");
};

struct Pair {
  Pair(const QString& path, const QString& folder, Options options = {}) : hooks_(std::move(options.hooks)) {
    receiver = std::make_unique<FileReceiver>(
        FileReceiver::Settings{folder, options.maxBytes, options.peer, &reader,
                               [free = options.freeBytes](const QString&) { return free; }},
        TransferChannel{[this](const QByteArray& d, bool b) { return toSender(d, b); }, [] { return uint64_t(0); }});
    sender = std::make_unique<FileSender>(
        path, QStringLiteral("id"), options.resumeKey,
        TransferChannel{[this](const QByteArray& d, bool b) { return toReceiver(d, b); }, [this] { return buffered; }},
        reader, options.offeredName);
    QObject::connect(receiver.get(), &FileReceiver::offered, receiver.get(), [this] { receiver->accept(); });
  }

  bool toReceiver(QByteArray data, bool binary) {
    if (cut) return false;
    if (binary) {
      if (hooks_.chunk) hooks_.chunk(data, chunks);
      ++chunks;
      sentBytes += data.size();
      ahead = std::max(ahead, sentBytes - receiver->progress().confirmed);
      if (hooks_.cutAfterBytes >= 0 && sentBytes > hooks_.cutAfterBytes) {
        cut = true;
        QTimer::singleShot(0, receiver.get(), [this] { receiver->interrupt(); });
        return false;
      }
    }
    buffered += data.size();
    QTimer::singleShot(0, receiver.get(), [this, data, binary] {
      buffered -= data.size();
      receiver->receive(data, binary);
    });
    return true;
  }
  bool toSender(const QByteArray& data, bool binary) {
    if (cut) return false;
    QTimer::singleShot(0, sender.get(), [this, data, binary] { sender->receive(data, binary); });
    return true;
  }

  bool settle(int timeoutMs = 20000) {
    return QTest::qWaitFor([&] {
      const auto over = [](State s) { return s != State::Waiting && s != State::Running; };
      return over(receiver->progress().state) && (cut || over(sender->progress().state));
    }, timeoutMs);
  }

  Hooks hooks_;
  FileReader reader;
  std::unique_ptr<FileReceiver> receiver;
  std::unique_ptr<FileSender> sender;
  uint64_t buffered = 0;
  int chunks = 0;
  int64_t sentBytes = 0;
  int64_t ahead = 0;  // the most sent and not yet written by the receiver
  bool cut = false;
};

}  // namespace

class FileTransferTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir;

  QString source(const QString& name, const QByteArray& content) {
    const QString path = dir.filePath("out/" + name);
    return test::writeFile(path, content) ? path : QString();
  }
  QStringList received(const QString& folder) { return QDir(folder).entryList(QDir::Files); }
  QStringList partsIn(const QString& folder) {
    return QDir(folder + "/" + ReceivedParts::kPartsFolder).entryList({"*.part"}, QDir::Files);
  }

 private Q_SLOTS:
  void transfers_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("already");  // files already in the folder
    QTest::addColumn<qint64>("freeBytes");
    QTest::addColumn<QString>("savedAs");
    const qint64 plenty = qint64(1) << 40;
    const QString longest = QString(251, 'n') + ".txt";  // 255 bytes
    QTest::newRow("several windows") << 3'000'000 << "outil.iso" << QStringList{} << plenty << "outil.iso";
    QTest::newRow("an empty file") << 0 << "vide.txt" << QStringList{} << plenty << "vide.txt";
    QTest::newRow("a name that climbs out") << 1000 << "../../.bashrc" << QStringList{} << plenty << "bashrc";
    QTest::newRow("a name already taken") << 1000 << "photo.jpg" << QStringList{"photo.jpg"} << plenty << "photo (2).jpg";
    QTest::newRow("the longest name") << 1000 << longest << QStringList{} << plenty << longest;
    QTest::newRow("free space unknown") << 1000 << "notes.txt" << QStringList{} << qint64(-1) << "notes.txt";
  }
  void transfers() {
    QFETCH(int, size);
    QFETCH(QString, name);
    QFETCH(QStringList, already);
    QFETCH(qint64, freeBytes);
    QFETCH(QString, savedAs);
    const QString folder = dir.filePath(QString("in-%1").arg(QTest::currentDataTag()));
    QDir().mkpath(folder);
    for (const auto& f : already) QFile(folder + "/" + f).open(QIODevice::WriteOnly);
    const QByteArray content = randomBytes(size);
    // The hostile name only on the wire.
    Pair pair(source("source.bin", content), folder, {.freeBytes = freeBytes, .offeredName = name});
    pair.sender->start();
    QVERIFY(pair.settle());
    QCOMPARE(pair.receiver->progress().state, State::Done);
    QCOMPARE(pair.sender->progress().state, State::Done);
    QCOMPARE(pair.receiver->progress().name, savedAs);
    QCOMPARE(received(folder).size(), already.size() + 1);  // nothing else left behind
    QCOMPARE(readFile(folder + "/" + savedAs), content);
    QVERIFY(partsIn(folder).isEmpty());
    // Never more on the way than the window (and the piece that filled it).
    QVERIFY2(pair.ahead <= FileSender::kWindowBytes + kFileChunkBytes, qPrintable(QString::number(pair.ahead)));
  }

  void endsWithNothingLeft_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("receiverState");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a piece corrupted on its way") << "corrupt" << int(State::Failed) << "empreinte SHA-256";
    QTest::newRow("cancelled by the sender") << "sender cancels" << int(State::Cancelled) << "annulé par";
    QTest::newRow("cancelled by the receiver") << "receiver cancels" << int(State::Cancelled) << "annulé";
    QTest::newRow("larger than the limit") << "too large" << int(State::Declined) << "fichier trop grand";
    QTest::newRow("not enough room") << "no room" << int(State::Declined) << "pas assez de place";
    // The last piece would wait in a buffer, its failed write unread.
    QTest::newRow("the disk takes less than all") << "size limit" << int(State::Failed) << "écriture impossible";
  }
  void endsWithNothingLeft() {
    QFETCH(QString, how);
    QFETCH(int, receiverState);
    QFETCH(QString, reason);
    const QString folder = dir.filePath("in-" + how);
    Options options;
    if (how == "corrupt") options.hooks.chunk = [](QByteArray& d, int i) { if (i == 7) d[100] = char(d[100] ^ 0x01); };
    if (how == "too large") options.maxBytes = 1 << 20;
    if (how == "no room") options.freeBytes = ReceivedParts::kFreeMarginBytes + 1000;
    const int size = how == "size limit" ? (1 << 20) + 10 * 1024 : 4 << 20;
    Pair pair(source("big.bin", randomBytes(size)), folder, options);
    struct rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    const struct rlimit before = limit;
    if (how == "size limit") {
      signal(SIGXFSZ, SIG_IGN);
      limit.rlim_cur = 1 << 20;
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    pair.sender->start();
    if (how.endsWith("cancels")) {
      QVERIFY(QTest::qWaitFor([&] { return pair.receiver->progress().confirmed > (1 << 20); }, 20000));
      how.startsWith("sender") ? pair.sender->cancel() : pair.receiver->cancel();
    }
    const bool settled = pair.settle();
    setrlimit(RLIMIT_FSIZE, &before);
    QVERIFY(settled);
    QCOMPARE(int(pair.receiver->progress().state), receiverState);
    QVERIFY2(pair.receiver->progress().reason.startsWith(reason), qPrintable(pair.receiver->progress().reason));
    QVERIFY(pair.sender->progress().state != State::Done);
    // The receiver's verdict on a piece reaches the sender.
    if (how == "corrupt") QCOMPARE(pair.sender->progress().reason, QString("empreinte SHA-256 différente"));
    QVERIFY2(received(folder).isEmpty(), qPrintable(received(folder).join(", ")));
    QVERIFY(partsIn(folder).isEmpty());
  }

  // A cut transfer goes on from its part for its own sender only, under the
  // name offered this time; another sender of the same file starts its own.
  void resumesForItsOwnSenderOnly() {
    const QString folder = dir.filePath("in-resume");
    const QByteArray content = randomBytes(5 << 20);
    const QString path = source("resume.bin", content);
    Options cutting;
    cutting.hooks.cutAfterBytes = 3 << 20;
    {
      Pair first(path, folder, cutting);
      first.sender->start();
      QVERIFY(first.settle());
      QCOMPARE(first.receiver->progress().state, State::Failed);
    }
    QCOMPARE(partsIn(folder).size(), 1);  // the part kept for later
    QCOMPARE(received(folder), QStringList());
    {
      Options stranger{.resumeKey = QByteArray(32, 's')};
      stranger.hooks.cutAfterBytes = 1 << 20;
      Pair other(path, folder, stranger);
      other.sender->start();
      QVERIFY(other.settle());
      QCOMPARE(other.receiver->progress().resumedFrom, 0);
    }
    QCOMPARE(partsIn(folder).size(), 2);  // its own, beside the first
    Pair second(path, folder, {.offeredName = "approuvé.bin"});
    second.sender->start();
    QVERIFY(second.settle());
    QCOMPARE(second.receiver->progress().state, State::Done);
    QVERIFY2(second.sentBytes < (3 << 20), qPrintable(QString::number(second.sentBytes)));  // only the rest
    QCOMPARE(received(folder), QStringList{"approuvé.bin"});
    QCOMPARE(readFile(folder + "/approuvé.bin"), content);
  }

  // What the transfers under way promised counts against the free space;
  // a peer keeps a few parts; parts from an earlier run expire.
  void partsKeepTheDiskInBounds() {
    const QString folder = dir.filePath("in-bounds");
    auto& parts = ReceivedParts::of(folder);
    const auto free = [](const QString&) { return ReceivedParts::kFreeMarginBytes + 100; };
    const auto content = [](char key, const QString& peer = "552019385") {
      return ReceivedParts::Content{peer, QByteArray(32, key), QByteArray(32, 'd'), 80};
    };
    QVERIFY(!parts.refusal(80, free));
    const auto first = parts.take(content('a'), "a.bin", nullptr);
    QVERIFY(first);
    QVERIFY(parts.refusal(80, free));  // the first one's 80 bytes are promised
    parts.written(first->key, 60);
    QVERIFY(!parts.refusal(80, free));
    parts.release(first->key, false);
    // One peer's kept parts beyond its bound go, oldest first; another's stay.
    const auto keep = [&](char key, const QString& peer) {
      const auto part = parts.take(content(key, peer), "x", nullptr);
      QVERIFY(test::writeFile(part->path, "12345678"));
      parts.release(part->key, true);
    };
    keep('z', "111111111");
    for (char key = 'b'; key < 'b' + ReceivedParts::kMaxPartsPerPeer + 3; ++key) keep(key, "552019385");
    QCOMPARE(partsIn(folder).size(), ReceivedParts::kMaxPartsPerPeer + 1);
    QCOMPARE(parts.held(content('z', "111111111")), 8);
    QCOMPARE(parts.held(content('b')), 0);
    QCOMPARE(parts.held(content(char('b' + ReceivedParts::kMaxPartsPerPeer + 2))), 8);

    // A later run: parts a week old go, with parts nothing knows.
    const QString later = dir.filePath("in-later");
    const QString hidden = later + "/" + ReceivedParts::kPartsFolder;
    QDir().mkpath(hidden);
    for (const QString& name : {QString("old.part"), QString("old.json"), QString("orphan.part")}) {
      QFile file(hidden + "/" + name);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(name.endsWith(".json") ? R"({"peer":"1","name":"x","size":8})" : "12345678");
      file.flush();
      file.setFileTime(QDateTime::currentDateTime().addDays(-8), QFileDevice::FileModificationTime);
    }
    QVERIFY(test::writeFile(hidden + "/fresh.part", {}) && test::writeFile(hidden + "/fresh.json", {}));
    ReceivedParts::of(later);
    QCOMPARE(QDir(hidden).entryList(QDir::Files), (QStringList{"fresh.json", "fresh.part"}));
  }

  // What the windows say of sizes and transfers.
  void sizes_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("bytes") << qint64(999) << "999 o";
    QTest::newRow("a kilobyte") << qint64(1000) << "1,00 Ko";
    QTest::newRow("rounds up a unit") << qint64(999'960) << "1,00 Mo";
    QTest::newRow("tens") << qint64(12'345'678) << "12,3 Mo";
    QTest::newRow("hundreds") << qint64(480'000'000) << "480 Mo";
    QTest::newRow("a GiB") << qint64(1) * 1024 * 1024 * 1024 << "1,07 Go";
    QTest::newRow("beyond the units") << qint64(5'000'000'000'000'000) << "5 000 To";
  }
  void sizes() {
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(byteSizeText(bytes).replace(QChar(0x202F), ' ').replace(QChar(0xA0), ' '), text);
  }

  void rows_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("outgoing");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<bool>("active");
    QTest::newRow("sent, waiting") << int(State::Waiting) << true << "En attente de l’autre ordinateur…" << 0.0 << true;
    QTest::newRow("received, waiting") << int(State::Waiting) << false << "En attente de votre accord…" << 0.0 << true;
    QTest::newRow("running") << int(State::Running) << true << "25,0 Mo sur 100 Mo · 5,00 Mo/s" << 0.25 << true;
    QTest::newRow("received") << int(State::Done) << false << "Reçu · 100 Mo" << 1.0 << false;
    QTest::newRow("failed") << int(State::Failed) << false << "Échec : empreinte SHA-256 différente" << 0.25 << false;
    QTest::newRow("declined") << int(State::Declined) << true << "Refusé : refusé" << 0.25 << false;
  }
  void rows() {
    QFETCH(int, state);
    QFETCH(bool, outgoing);
    QFETCH(QString, detail);
    QFETCH(double, fraction);
    QFETCH(bool, active);
    TransferProgress p;
    p.state = State(state);
    p.name = QStringLiteral("outil.iso");
    p.size = 100'000'000;
    p.confirmed = p.state == State::Done ? p.size : p.state == State::Waiting ? 0 : 25'000'000;
    p.bytesPerSecond = 5'000'000;
    p.reason = p.state == State::Failed ? QStringLiteral("empreinte SHA-256 différente") : QStringLiteral("refusé");
    const QVariantList rows = transferRows({{QStringLiteral("file:1"), outgoing, p}});
    QCOMPARE(rows.size(), 1);
    const QVariantMap row = rows.front().toMap();
    QCOMPARE(row.value("id").toString(), QStringLiteral("file:1"));
    QCOMPARE(row.value("name").toString(), QStringLiteral("outil.iso"));
    QCOMPARE(row.value("detail").toString().replace(QChar(0x202F), ' ').replace(QChar(0xA0), ' '), detail);
    QCOMPARE(row.value("fraction").toDouble(), fraction);
    QCOMPARE(row.value("active").toBool(), active);
  }
};

QTEST_GUILESS_MAIN(FileTransferTest)
#include "file_transfer_test.moc"
