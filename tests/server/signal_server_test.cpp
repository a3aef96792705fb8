// SPDX-License-Identifier: GPL-3.0-or-later
// The signaling server's network side on its epoll dispatcher: the dispatcher
// under Qt's machinery; sockets, their bounds and addresses; the owners' file.

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "epoll_dispatcher.h"
#include "listener.h"
#include "raw_ws_client.h"
#include "rooms_fixture.h"
#include "signal_server.h"

using namespace lunor::test;

namespace {

// A connection to an in-process server, past its handshake.
struct Peer : RawWsClient {
  explicit Peer(quint16 port, const QString& local = "127.0.0.1") : RawWsClient(port, local) { handshake(); }
};

// A server of the test's own on a free loopback port; null when it cannot listen.
std::unique_ptr<SignalServer> serve(ServerLimits limits = {}, OwnerStore* owners = nullptr) {
  auto server = std::make_unique<SignalServer>(limits, PasswordBackoff::Clock(), owners);
  return server->listen(QHostAddress::LocalHost, 0) ? nullptr : std::move(server);
}

}  // namespace

class SignalServerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // Timers fire in order, repeat, stop; one stops itself in its handler,
  // another restarts there.
  void timers() {
    QStringList fired;
    QTimer::singleShot(60, this, [&] { fired << "60"; });
    QTimer::singleShot(20, this, [&] { fired << "20"; });
    QTimer::singleShot(0, this, [&] { fired << "0"; });
    QTimer repeating;
    int ticks = 0;
    connect(&repeating, &QTimer::timeout, this, [&] { ++ticks; });
    repeating.start(10);
    QTRY_COMPARE(fired, (QStringList{"0", "20", "60"}));
    QTRY_VERIFY(ticks >= 5);
    repeating.stop();
    const int stopped = ticks;

    QTimer once, restarted;
    int onceCount = 0, restartCount = 0;
    connect(&once, &QTimer::timeout, this, [&] { ++onceCount; once.stop(); });
    connect(&restarted, &QTimer::timeout, this, [&] {
      if (++restartCount < 3) restarted.start(5);
    });
    restarted.setSingleShot(true);
    once.start(5);
    restarted.start(5);
    QTRY_COMPARE(restartCount, 3);
    QTest::qWait(50);
    QCOMPARE(ticks, stopped);
    QCOMPARE(onceCount, 1);
    QCOMPARE(restartCount, 3);
    QCOMPARE(once.remainingTime(), -1);
  }

  // A nested loop inside a timer's handler does not deliver that timer again.
  void nestedLoopDoesNotReenterATimer() {
    QTimer timer;
    int depth = 0, deepest = 0, count = 0;
    connect(&timer, &QTimer::timeout, this, [&] {
      ++count;
      deepest = std::max(deepest, ++depth);
      if (count == 1) QTest::qWait(50);
      --depth;
    });
    timer.start(5);
    QTRY_VERIFY(count >= 3);
    timer.stop();
    QCOMPARE(deepest, 1);
  }

  void socketNotifiersFollowTheDescriptor() {
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    QSocketNotifier reader(pair[0], QSocketNotifier::Read);
    QSocketNotifier writer(pair[0], QSocketNotifier::Write);
    int reads = 0, writes = 0;
    connect(&reader, &QSocketNotifier::activated, this, [&] {
      char buffer[64];
      while (::read(pair[0], buffer, sizeof buffer) > 0) ++reads;
    });
    connect(&writer, &QSocketNotifier::activated, this, [&] {
      ++writes;
      writer.setEnabled(false);  // writable all the time: told once, then off
    });
    QTRY_COMPARE(writes, 1);
    QCOMPARE(reads, 0);
    QCOMPARE(::write(pair[1], "x", 1), 1);
    QTRY_COMPARE(reads, 1);
    reader.setEnabled(false);
    QCOMPARE(::write(pair[1], "y", 1), 1);
    QTest::qWait(30);
    QCOMPARE(reads, 1);
    reader.setEnabled(true);
    QTRY_COMPARE(reads, 2);
    QCOMPARE(writes, 1);
    ::close(pair[1]);
    ::close(pair[0]);
  }

  // Two ready descriptors; the first one's handler deletes the second's
  // notifier: it is not told.
  void notifierDeletedByAnEarlierHandlerIsNotTold() {
    int a[2], b[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, a), 0);
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, b), 0);
    auto* first = new QSocketNotifier(a[0], QSocketNotifier::Read, this);
    auto* second = new QSocketNotifier(b[0], QSocketNotifier::Read, this);
    QPointer<QSocketNotifier> firstAlive(first), secondAlive(second);
    int told = 0;
    char byte;
    connect(first, &QSocketNotifier::activated, this, [&] {
      ++told;
      std::ignore = ::read(a[0], &byte, 1);
      delete secondAlive.data();
    });
    connect(second, &QSocketNotifier::activated, this, [&] {
      ++told;
      std::ignore = ::read(b[0], &byte, 1);
      delete firstAlive.data();
    });
    QCOMPARE(::write(a[1], "x", 1), 1);
    QCOMPARE(::write(b[1], "x", 1), 1);
    QTRY_VERIFY(told >= 1);
    QTest::qWait(30);
    QCOMPARE(told, 1);
    delete firstAlive.data();
    delete secondAlive.data();
    for (int fd : {a[0], a[1], b[0], b[1]}) ::close(fd);
  }

  void eventsPostedFromAnotherThreadWakeTheLoop() {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    // Nothing else wakes this loop before the fallback, 5 s away.
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    std::thread poster([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    poster.join();
    QVERIFY(clock.elapsed() < 4000);
  }

  void deferredDeleteRuns() {
    QPointer<QObject> doomed = new QObject;
    doomed->deleteLater();
    QTRY_VERIFY(doomed.isNull());
  }

  // A binary frame that is not UTF-8 is answered; one past the size bound
  // closes its connection (1009) and nobody else's.
  void framesTheSocketRefuses_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("closeCode");
    QTest::newRow("binary not UTF-8") << QByteArray("\xff\xfe\xfd") << -1;
    QTest::newRow("oversized") << QByteArray(300 * 1024, 'x') << 1009;
  }
  void framesTheSocketRefuses() {
    QFETCH(QByteArray, frame);
    QFETCH(int, closeCode);
    auto server = serve();
    QVERIFY(server);
    Peer peer(server->port());
    peer.id();
    peer.sendBinary(frame);
    if (closeCode < 0) {
      QCOMPARE(peer.take("error").value("code").toString(), QString("bad-encoding"));
    } else {
      QTRY_VERIFY(peer.closed);
      QCOMPARE(peer.closeCode, closeCode);
    }
    Peer other(server->port());
    other.send(create(kRoom));
    QVERIFY(!other.take("created").isEmpty());
  }

  // A host that stops reading while its client sends is closed once the
  // bytes waiting for it pass the bound; the server does not keep growing.
  void slowReaderIsClosed() {
    ServerLimits limits;
    limits.maxUnsentBytes = 256 * 1024;
    limits.burstMessages = 1e6;
    limits.messagesPerSecond = 1e6;
    auto server = serve(limits);
    QVERIFY(server);
    Peer slowHost(server->port());
    slowHost.send(create(kRoom));
    QVERIFY(!slowHost.take("created").isEmpty());
    Peer c(server->port());
    const QString clientId = c.id();
    c.send(join(kRoom));
    const QJsonObject request = slowHost.take("join-request");
    QCOMPARE(request.value("clientId").toString(), clientId);
    slowHost.send(answer("approve", clientId));
    QVERIFY(!c.take("approved").isEmpty());

    slowHost.stopReading();
    const QJsonObject big{{"type", "ice"}, {"candidate", QString(60 * 1024, 'x')}};
    for (int i = 0; i < 200 && !c.has("peer-left"); ++i) {
      c.send(signalOf(big));
      QTest::qWait(5);
    }
    QVERIFY(QTest::qWaitFor([&] { return server->connectionCount() == 1; }, 10000));
    QVERIFY(!c.take("left").isEmpty());
  }

  void addressesCountedTogether_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("key");
    QTest::newRow("IPv4") << "203.0.113.7" << "203.0.113.7";
    QTest::newRow("IPv4 written as IPv6") << "::ffff:203.0.113.7" << "203.0.113.7";
    QTest::newRow("IPv6: its /64") << "2001:db8:1:2:aaaa:bbbb:cccc:dddd" << "2001:db8:1:2::/64";
    QTest::newRow("another of the same /64") << "2001:db8:1:2::1" << "2001:db8:1:2::/64";
  }
  void addressesCountedTogether() {
    QFETCH(QString, address);
    QFETCH(QString, key);
    QCOMPARE(addressKey(address), key);
  }

  // A host dropped for what piles up for it while the server is admitting a
  // client (its picture takes the host over its bound; a crash that happened):
  // the admission finishes, the host's leaving follows.
  void dropInTheMiddleOfAnAdmission() {
    ServerLimits limits;
    limits.maxUnsentBytes = 32 * 1024;
    auto server = serve(limits);
    QVERIFY(server);
    const QString digest(64, '5');
    Peer host(server->port());
    host.send(create(kRoom, {}, digest));
    QVERIFY(!host.take("created").isEmpty());
    Peer c(server->port());
    QJsonObject request = join(kRoom, digest);
    request.insert("avatar", QString(40 * 1024, 'A'));
    c.send(request);
    QVERIFY(!c.take("approved").isEmpty());
    QVERIFY(!c.take("peer-joined").isEmpty());
    QVERIFY(!c.take("left").isEmpty());
    QTRY_COMPARE(server->roomCount(), 0);
    QTRY_COMPARE(server->connectionCount(), 1);
  }

  // Connections that never finish their handshake are counted from the TCP
  // accept: past the bound from one address the next are refused at once,
  // another address still gets in, and the count frees as they time out.
  void halfOpenConnectionsAreCappedPerAddress() {
    ServerLimits limits;
    limits.maxConnectionsPerAddress = 20;
    limits.handshakeTimeoutMs = 1500;
    auto server = serve(limits);
    QVERIFY(server);
    std::vector<std::unique_ptr<RawWsClient>> flood;
    for (int i = 0; i < 20; ++i) flood.push_back(std::make_unique<RawWsClient>(server->port(), "127.0.0.7"));
    QVERIFY(QTest::qWaitFor([&] { return server->acceptedCount() == 20; }, 5000));
    RawWsClient refused(server->port(), "127.0.0.7");
    QVERIFY(refused.waitClosed(3000));
    Peer other(server->port(), "127.0.0.8");
    QVERIFY(!other.take("hello").isEmpty());
    // The silent ones go after the handshake timeout; the address may come back.
    QVERIFY(QTest::qWaitFor([&] { return server->acceptedCount() == 1; }, 10000));
    QVERIFY(RawWsClient(server->port(), "127.0.0.7").handshake());
  }

  // A connection that says nothing after its handshake goes; one that does
  // not answer pings goes once silent for the bound; a live one stays.
  void silentConnectionsAreDropped() {
    ServerLimits limits;
    limits.firstMessageTimeoutMs = 1500;
    limits.pingIntervalMs = 300;
    limits.silenceTimeoutMs = 1500;
    auto server = serve(limits);
    QVERIFY(server);
    Peer mute(server->port());
    Peer deaf(server->port());
    deaf.answerPings = false;
    deaf.send(create("111111111"));
    QVERIFY(!deaf.take("created").isEmpty());
    Peer alive(server->port());
    alive.send(create(kRoom));
    QVERIFY(!alive.take("created").isEmpty());

    QVERIFY(mute.waitClosed(5000));
    QVERIFY(deaf.waitClosed(5000));
    QVERIFY2(deaf.pings >= 2, qPrintable(QString::number(deaf.pings)));
    QCOMPARE(server->roomCount(), 1);
    QVERIFY(alive.isConnected());
  }

  // A create waits for the owners' file, held by another writer; meanwhile
  // the server answers everyone else.
  void ownerFileBusyDoesNotHoldTheServer() {
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    SqliteOwnerStore store(path, 30);
    QVERIFY(store.error().isEmpty());
    auto server = serve({}, &store);
    QVERIFY(server);
    {
      QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
      writer.setDatabaseName(path);
      QVERIFY(writer.open());
      QSqlQuery hold(writer);
      QVERIFY(hold.exec("BEGIN EXCLUSIVE"));
      Peer host(server->port());
      host.send(create(kRoom, kOwnerKey));
      Peer other(server->port());
      other.send(join("555555555"));
      QVERIFY(!other.take("room-not-found").isEmpty());
      QVERIFY(!host.has("created"));
      QVERIFY(hold.exec("COMMIT"));
      QVERIFY(!host.take("created").isEmpty());
      writer.close();
    }
    QSqlDatabase::removeDatabase("writer");
  }

  // Behind a trusted proxy the forwarded address is the one that counts.
  void trustedProxyForwardsTheClientsAddress() {
    ServerLimits limits;
    limits.maxConnectionsPerAddress = 2;
    auto server = serve(limits);
    QVERIFY(server);
    server->setTrustedProxy(QHostAddress("127.0.0.1"));
    std::vector<std::unique_ptr<RawWsClient>> same;
    for (int i = 0; i < 3; ++i) {
      same.push_back(std::make_unique<RawWsClient>(server->port()));
      same.back()->handshake("X-Forwarded-For: 10.1.1.1, 203.0.113.7\r\n");
    }
    QVERIFY(!same[0]->take("hello").isEmpty());
    QVERIFY(!same[1]->take("hello").isEmpty());
    QVERIFY(same[2]->waitClosed(3000));
    RawWsClient another(server->port());
    QVERIFY(another.handshake("X-Forwarded-For: 203.0.113.8\r\n"));
    QVERIFY(!another.take("hello").isEmpty());
    RawWsClient unproxied(server->port());
    unproxied.handshake();
    QVERIFY(unproxied.waitClosed(3000));
  }
};

int main(int argc, char** argv) {
  QCoreApplication::setEventDispatcher(new lunor::signal::EpollEventDispatcher);
  QCoreApplication app(argc, argv);
  SignalServerTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "signal_server_test.moc"
