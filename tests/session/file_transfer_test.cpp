// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "session/file_transfer.h"

using namespace lunor;
using State = TransferProgress::State;

namespace {

// A sender and a receiver joined by an in-memory channel: messages arrive
// later, in order, through the event loop; `buffered` counts the bytes on
// their way to the receiver.
struct Hooks {
  std::function<void(QByteArray&, int index)> chunk;  // may change a piece on its way
  int64_t cutAfterBytes = -1;                          // the connection drops after this many
};

struct Pair {

  Pair(const QString& path, const QString& id, const QString& folder, int64_t maxBytes = 1 << 30,
       int64_t freeBytes = int64_t(1) << 40, Hooks hooks = {}, const QString& offeredName = {})
      : hooks_(std::move(hooks)) {
    receiver = std::make_unique<FileReceiver>(
        FileReceiver::Settings{folder, maxBytes, [freeBytes](const QString&) { return freeBytes; }},
        TransferChannel{[this](const QByteArray& d, bool b) { return toSender(d, b); }, [] { return uint64_t(0); }});
    sender = std::make_unique<FileSender>(
        path, id, TransferChannel{[this](const QByteArray& d, bool b) { return toReceiver(d, b); }, [this] { return buffered; }},
        offeredName);
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
  std::unique_ptr<FileReceiver> receiver;
  std::unique_ptr<FileSender> sender;
  uint64_t buffered = 0;
  int chunks = 0;
  int64_t sentBytes = 0;
  int64_t ahead = 0;  // the most sent and not yet written by the receiver
  bool cut = false;
};

QByteArray randomBytes(int size) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (auto& b : bytes) b = char(QRandomGenerator::global()->generate());
  return bytes;
}

}  // namespace

class FileTransferTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir;

  QString source(const QString& name, const QByteArray& content) {
    QDir().mkpath(dir.filePath("out"));
    const QString path = dir.filePath("out/" + name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
  }
  QStringList received(const QString& folder) { return QDir(folder).entryList(QDir::Files); }

 private Q_SLOTS:
  void transfers_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("already");  // files already in the folder
    QTest::addColumn<QString>("savedAs");
    QTest::newRow("a file of several pieces") << 300'123 << "rapport.pdf" << QStringList{} << "rapport.pdf";
    QTest::newRow("several windows") << 3'000'000 << "outil.iso" << QStringList{} << "outil.iso";
    QTest::newRow("an empty file") << 0 << "vide.txt" << QStringList{} << "vide.txt";
    QTest::newRow("a name that climbs out") << 1000 << "../../.bashrc" << QStringList{} << "bashrc";
    QTest::newRow("a name already taken") << 1000 << "photo.jpg" << QStringList{"photo.jpg"} << "photo (2).jpg";
  }
  void transfers() {
    QFETCH(int, size);
    QFETCH(QString, name);
    QFETCH(QStringList, already);
    QFETCH(QString, savedAs);
    const QString folder = dir.filePath(QString("in-%1").arg(QTest::currentDataTag()));
    QDir().mkpath(folder);
    for (const auto& f : already) QFile(folder + "/" + f).open(QIODevice::WriteOnly);
    const QByteArray content = randomBytes(size);
    // The hostile name only on the wire.
    Pair pair(source("source.bin", content), QString("id-%1").arg(QTest::currentDataTag()), folder, 1 << 30,
              int64_t(1) << 40, {}, name);
    pair.sender->start();
    QVERIFY(pair.settle());
    QCOMPARE(pair.receiver->progress().state, State::Done);
    QCOMPARE(pair.sender->progress().state, State::Done);
    QCOMPARE(pair.receiver->progress().name, savedAs);
    QFile saved(folder + "/" + savedAs);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), content);
    QCOMPARE(received(folder).size(), already.size() + 1);  // nothing else left behind
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
  }
  void endsWithNothingLeft() {
    QFETCH(QString, how);
    QFETCH(int, receiverState);
    QFETCH(QString, reason);
    const QString folder = dir.filePath("in-" + how);
    Hooks hooks;
    if (how == "corrupt") hooks.chunk = [](QByteArray& d, int i) { if (i == 7) d[100] = char(d[100] ^ 0x01); };
    Pair pair(source("big.bin", randomBytes(4 << 20)), "id-" + how, folder, how == "too large" ? 1 << 20 : 1 << 30,
              how == "no room" ? 1000 : int64_t(1) << 40, hooks);
    pair.sender->start();
    if (how.endsWith("cancels")) {
      QVERIFY(QTest::qWaitFor([&] { return pair.receiver->progress().confirmed > (1 << 20); }, 20000));
      how.startsWith("sender") ? pair.sender->cancel() : pair.receiver->cancel();
    }
    QVERIFY(pair.settle());
    QCOMPARE(int(pair.receiver->progress().state), receiverState);
    QVERIFY2(pair.receiver->progress().reason.startsWith(reason), qPrintable(pair.receiver->progress().reason));
    QVERIFY(pair.sender->progress().state != State::Done);
    QVERIFY2(received(folder).isEmpty(), qPrintable(received(folder).join(", ")));
  }

  void resumesWhereTheCutLeftIt() {
    const QString folder = dir.filePath("in-resume");
    const QByteArray content = randomBytes(5 << 20);
    const QString path = source("resume.bin", content);
    Hooks cutting;
    cutting.cutAfterBytes = 3 << 20;
    {
      Pair first(path, "id-resume", folder, 1 << 30, int64_t(1) << 40, cutting);
      first.sender->start();
      QVERIFY(first.settle());
      QCOMPARE(first.receiver->progress().state, State::Failed);
    }
    QCOMPARE(received(folder).size(), 1);  // the part kept for later
    Pair second(path, "id-resume", folder);
    second.sender->start();
    QVERIFY(second.settle());
    QCOMPARE(second.receiver->progress().state, State::Done);
    QVERIFY2(second.sentBytes < (3 << 20), qPrintable(QString::number(second.sentBytes)));  // only the rest
    QFile saved(folder + "/resume.bin");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), content);
  }
};

QTEST_GUILESS_MAIN(FileTransferTest)
#include "file_transfer_test.moc"
