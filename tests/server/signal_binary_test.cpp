// SPDX-License-Identifier: GPL-3.0-or-later
// The lunor-signal program: command line, TLS, shutdown; two instances over Redis.

#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "child_process.h"
#include "raw_ws_client.h"
#include "redis_link.h"
#include "redis_server_process.h"
#include "rooms_fixture.h"
#include "session/signaling_client.h"
#include "signal_server_process.h"
#include "test_files.h"

using lunor::SignalingClient;
using namespace lunor::test;

namespace {

// A connection past its handshake; a failed one answers nothing, which the
// checks on its answers then show.
std::unique_ptr<RawWsClient> connectTo(SignalServerProcess& server, const QString& local = "127.0.0.1") {
  auto client = std::make_unique<RawWsClient>(server.port(), local);
  client->handshake();
  return client;
}

// Writes `request` on a connected socket; the answer, read until the server closes.
QByteArray exchange(QTcpSocket& socket, const QByteArray& request) {
  socket.write(request);
  QByteArray answer;
  while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000)) answer += socket.readAll();
  return answer + socket.readAll();
}

// What the server answers a create with: "created", or the error's code.
QString creates(RawWsClient& client, const QJsonObject& create) {
  client.send(create);
  std::ignore = QTest::qWaitFor([&] { return client.has("created") || client.has("error"); }, 5000);
  return client.has("created") ? client.take("created").value("type").toString()
                               : client.take("error").value("code").toString();
}

// A Redis and two instances of lunor-signal sharing their rooms through it.
struct TwoInstances {
  explicit TwoInstances(const QStringList& arguments)
      : first(std::make_unique<SignalServerProcess>(QStringList{"--redis", redis.url()} + arguments)),
        second(QStringList{"--redis", redis.url()} + arguments) {}
  bool isUp() { return redis.isReady() && first->isListening() && second.isListening(); }
  QByteArray output() { return redis.output() + first->output() + second.output(); }

  RedisServerProcess redis;
  std::unique_ptr<SignalServerProcess> first;
  SignalServerProcess second;
};

}  // namespace

class SignalBinaryTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--listen";
    QTest::newRow("public address without TLS")
        << QStringList{"--listen", "0.0.0.0", "--port", "0"} << 1 << "only served on loopback";
    QTest::newRow("bad port") << QStringList{"--port", "70000"} << 2 << "invalid port";
    QTest::newRow("cert without key") << QStringList{"--cert", "x.pem"} << 2 << "go together";
    QTest::newRow("web root not a folder") << QStringList{"--web-root", "/nonexistent-web"} << 2 << "is not a folder";
    QTest::newRow("unreadable certificate")
        << QStringList{"--cert", "/nonexistent.pem", "--key", "/nonexistent.key"} << 2
        << "no certificate";
    for (const char* flag : {"--max-display-name-chars", "--max-room-id-chars", "--messages-per-second",
                             "--burst-messages", "--dropped-before-close", "--max-password-wait-ms",
                             "--max-devices-per-room"}) {
      QTest::addRow("help lists %s", flag) << QStringList{"--help"} << 0 << flag;
    }
    QTest::newRow("zero bound") << QStringList{"--max-unsent-bytes", "0"} << 2 << "invalid --max-unsent-bytes";
    QTest::newRow("bound past its type")
        << QStringList{"--max-room-id-chars", "4294967297"} << 2 << "invalid --max-room-id-chars";
    QTest::newRow("rate not a number") << QStringList{"--messages-per-second", "fast"} << 2
                                       << "invalid --messages-per-second";
    QTest::newRow("burst below one message") << QStringList{"--burst-messages", "0.5"} << 2
                                             << "invalid --burst-messages";
    QTest::newRow("turn url without secret") << QStringList{"--turn-url", "turn:x:3478"} << 2 << "go together";
    QTest::newRow("not a turn url")
        << QStringList{"--turn-url", "http://x:3478", "--turn-secret-file", "/dev/null"} << 2 << "not a TURN URL";
    QTest::newRow("unreadable turn secret")
        << QStringList{"--turn-url", "turn:x:3478", "--turn-secret-file", "/nonexistent"} << 2 << "cannot read";
    QTest::newRow("owner ttl") << QStringList{"--owner-ttl-days", "0"} << 2 << "invalid --owner-ttl-days";
    QTest::newRow("not a redis url") << QStringList{"--redis", "http://x"} << 2 << "invalid --redis";
    // Port 1 on loopback: nobody listens there.
    QTest::newRow("redis unreachable") << QStringList{"--redis", "redis://127.0.0.1:1"} << 1 << "Redis at";
    QTest::newRow("redis password file without redis") << QStringList{"--redis-password-file", "/etc/hostname"} << 2
                                                       << "goes with --redis";
    QTest::newRow("redis password twice")
        << QStringList{"--redis", "redis://:pw@127.0.0.1:1", "--redis-password-file", "/etc/hostname"} << 2
        << "not both";
    QTest::newRow("unreadable redis password")
        << QStringList{"--redis", "redis://127.0.0.1:1", "--redis-password-file", "/nonexistent"} << 2
        << "cannot read";
  }

  // Redis's password from a file: the right one is taken, a wrong one refused.
  void takesRedisPasswordFromAFile() {
    RedisServerProcess redis({"--requirepass", "s3cret pass"});
    if (!redis.isReady()) QSKIP("no redis-server here: scripts/install-deps.sh installs it");
    QTemporaryDir dir;
    const QString file = dir.filePath("redis-password");
    for (const auto& [password, listens] : {std::pair{QByteArray("s3cret pass\n"), true},
                                            std::pair{QByteArray("guess\n"), false}}) {
      QVERIFY(writeFile(file, password));
      SignalServerProcess server({"--redis", redis.url(), "--redis-password-file", file});
      QVERIFY2(server.isListening() == listens, server.output().constData());
      if (!listens) QVERIFY2(server.output().contains("Redis refused the password"), server.output().constData());
    }
  }
  void commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    dieWithTest(process);
    process.start(LUNOR_SIGNAL_BINARY, arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(QString::fromUtf8(process.readAll()).contains(says), qPrintable(says));
  }

  // The bounds given on the command line are the ones the server keeps.
  void boundsFromTheCommandLineApply_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("bound");
    QTest::newRow("room ID length") << QStringList{"--max-room-id-chars", "8"} << "room-id";
    QTest::newRow("display name length") << QStringList{"--max-display-name-chars", "3"} << "display-name";
    QTest::newRow("rate and burst") << QStringList{"--messages-per-second", "0.01", "--burst-messages", "2"}
                                    << "rate";
    QTest::newRow("drops before closing")
        << QStringList{"--messages-per-second", "0.01", "--burst-messages", "1", "--dropped-before-close", "2"}
        << "close";
  }
  void boundsFromTheCommandLineApply() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, bound);
    SignalServerProcess server(arguments);
    QVERIFY2(server.isListening(), server.output().constData());
    RawWsClient first(server.port());
    QVERIFY(first.handshake());
    if (bound == "room-id") {
      first.send({{"type", "create"}, {"roomId", "123456789"}});
      QCOMPARE(first.take("error").value("code").toString(), QString("bad-room-id"));
      first.send({{"type", "create"}, {"roomId", "12345678"}});
      QVERIFY(!first.take("created").isEmpty());
    } else if (bound == "display-name") {
      first.send({{"type", "create"}, {"roomId", "123456789"}});
      QVERIFY(!first.take("created").isEmpty());
      RawWsClient client(server.port(), "127.0.0.2");
      QVERIFY(client.handshake());
      client.send({{"type", "join"}, {"roomId", "123456789"}, {"displayName", "Zoé Martin"}});
      QCOMPARE(first.take("join-request").value("displayName").toString(), QString("Zoé"));
    } else {
      // Past the burst messages are dropped (the first drop is told), and
      // past the drops allowed the connection goes.
      for (int i = 0; i < 3; ++i) first.send({{"type", "teleport"}});
      const QStringList expected = bound == "rate" ? QStringList{"unknown-type", "unknown-type", "rate-limited"}
                                                   : QStringList{"unknown-type", "rate-limited"};
      auto codes = [&] {
        QStringList found;
        for (const QJsonObject& message : first.received) {
          if (message.value("type") == "error") found << message.value("code").toString();
        }
        return found;
      };
      QTRY_COMPARE(codes(), expected);
      if (bound == "close") QVERIFY(first.waitClosed(5000));
    }
  }

  void servesWssWithTheGivenCertificate() {
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                              "-subj", "/CN=localhost", "-addext",
                              "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", key,
                              "-out", cert});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);

    SignalServerProcess server({"--cert", cert, "--key", key});
    QVERIFY2(server.isListening(), server.output().constData());
    QVERIFY(server.output().contains("tls=true"));

    // Trusted through the extra CA file: opens and hears "hello".
    {
      SignalingClient client({server.url("wss", "localhost"), cert});
      int opens = 0;
      QString firstType;
      client.onOpen = [&] { ++opens; };
      client.onMessage = [&](const QJsonObject& m) {
        if (firstType.isEmpty()) firstType = m.value("type").toString();
      };
      client.connect();
      QTRY_COMPARE_WITH_TIMEOUT(opens, 1, 10000);
      QTRY_COMPARE(firstType, QString("hello"));
    }
    // Without it the self-signed certificate is refused.
    {
      SignalingClient client({server.url("wss", "localhost"), {}});
      int opens = 0, closes = 0;
      client.onOpen = [&] { ++opens; };
      client.onClose = [&] { ++closes; };
      client.connect();
      QTRY_COMPARE_WITH_TIMEOUT(closes, 1, 10000);
      QCOMPARE(opens, 0);
    }
    // The web client on the same port over HTTPS, told to stay there.
    {
      QSslSocket socket;
      QSslConfiguration configuration = socket.sslConfiguration();
      configuration.setCaCertificates(QSslCertificate::fromPath(cert));
      socket.setSslConfiguration(configuration);
      socket.connectToHostEncrypted("localhost", server.port());
      QVERIFY2(socket.waitForEncrypted(10000), qPrintable(socket.errorString()));
      const QByteArray answer = exchange(socket, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
      QVERIFY2(answer.startsWith("HTTP/1.1 200 OK\r\n"), answer.left(200).constData());
      QVERIFY(answer.contains("\r\nStrict-Transport-Security: max-age="));
      QVERIFY(answer.contains("<title>Lunor Remote</title>"));
    }
  }

  // The web client's files and the WebSocket on one port: a page, a request
  // that is not HTTP, one too long, and the socket's handshake beside them
  // (what is never served: web_files_test). A SIGTERM then stops it cleanly.
  void servesTheWebClientBesideTheSocketAndStops() {
    QTemporaryDir web;
    QVERIFY(writeFile(web.filePath("index.html"), "<!doctype html><title>Lunor</title>"));
    SignalServerProcess server({"--web-root", web.path()});
    QVERIFY(server.isListening());
    const auto ask = [&](const QByteArray& request) {
      QTcpSocket socket;
      socket.connectToHost("127.0.0.1", server.port());
      return socket.waitForConnected(5000) ? exchange(socket, request) : QByteArray();
    };
    const QByteArray root = ask("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QVERIFY2(root.startsWith("HTTP/1.1 200 OK\r\n"), root.constData());
    QVERIFY(root.contains("Content-Security-Policy: default-src 'none'; script-src 'self'"));
    QVERIFY(root.endsWith("<!doctype html><title>Lunor</title>"));
    QVERIFY(ask("HELLO\r\n\r\n").startsWith("HTTP/1.1 400 "));
    QVERIFY(ask("GET / HTTP/1.1\r\nX-Long: " + QByteArray(9000, 'a')).startsWith("HTTP/1.1 431 "));
    RawWsClient client(server.port());
    QVERIFY(client.handshake());
    QVERIFY(!client.take("hello").isEmpty());

    server.process().terminate();
    QVERIFY(server.process().waitForFinished(10000));
    QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process().exitCode(), 0);
    QVERIFY(server.output().contains("event=stopped"));
  }

  // A test that crashes takes the server it started with it (one was left
  // to run for many minutes, adopted by init).
  void aCrashedTestTakesItsServerWithIt() {
    if (qEnvironmentVariableIsSet("LUNOR_TEST_CRASH")) {  // the crashing test
      SignalServerProcess server;
      std::printf("server %lld\n", server.process().processId());
      std::fflush(stdout);
      std::abort();
    }
    QProcess crashing;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LUNOR_TEST_CRASH", "1");
    crashing.setProcessEnvironment(environment);
    crashing.start(QCoreApplication::applicationFilePath(), {"aCrashedTestTakesItsServerWithIt"});
    QVERIFY(crashing.waitForFinished(20000));
    const QString server = QRegularExpression("server (\\d+)").match(crashing.readAll()).captured(1);
    QVERIFY(!server.isEmpty() && server != "0");
    const auto gone = [&] {  // or dead and not reaped yet
      QFile stat("/proc/" + server + "/stat");
      return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    };
    QTRY_VERIFY_WITH_TIMEOUT(gone(), 5000);
  }

  // Rooms, owners and failure counts shared through Redis; an instance's
  // death frees what it held for the owner.
  void sessionAcrossInstancesAndTheOwnerMovesOn() {
    TwoInstances x({"--free-failures-per-address", "2"});
    QVERIFY2(x.isUp(), x.output().constData());
    auto host = connectTo(*x.first);
    QCOMPARE(creates(*host, create(kRoom, kOwnerKey, kRightHash)), "created");

    // A join from the other instance reaches the host; its answer and the
    // signals cross back and forth.
    auto client = connectTo(x.second);
    client->send(join(kRoom));
    const QJsonObject request = host->take("join-request");
    QCOMPARE(request.value("displayName").toString(), "Zoé");
    host->send(answer("approve", request.value("clientId").toString()));
    QVERIFY(!client->take("approved").isEmpty());
    client->send(signalOf({{"sdp", "offer"}}));
    QCOMPARE(host->take("signal").value("data").toObject().value("sdp").toString(), "offer");
    host->send(signalOf({{"sdp", "answer"}}));
    QCOMPARE(client->take("signal").value("data").toObject().value("sdp").toString(), "answer");
    client.reset();
    QVERIFY(!host->take("peer-left").isEmpty());

    // Nobody else gets the room from the other instance, with or without a
    // key. A room created without a key is first come, first served across
    // instances too: a key neither takes it nor binds its ID, and once free
    // it is anyone's again.
    auto squatter = connectTo(x.second);
    QCOMPARE(creates(*squatter, create(kRoom)), "room-taken");
    QCOMPARE(creates(*squatter, create(kRoom, kOtherKey)), "room-taken");
    QCOMPARE(creates(*host, create("555000111")), "created");
    QCOMPARE(creates(*squatter, create("555000111")), "room-taken");
    QCOMPARE(creates(*squatter, create("555000111", QString(64, 'd'))), "room-taken");
    QCOMPARE(creates(*host, create(kRoom, kOwnerKey, kRightHash)), "created");
    QCOMPARE(creates(*squatter, create("555000111")), "created");

    // The owner's new connection on the same instance replaces its stale one,
    // and the room is still found from the other instance.
    auto fresh = connectTo(*x.first);
    QCOMPARE(creates(*fresh, create(kRoom, kOwnerKey, kRightHash)), "created");
    QVERIFY(host->waitClosed(5000));
    host = std::move(fresh);
    auto visitor = connectTo(x.second);
    visitor->send(join(kRoom));
    QVERIFY(!host->take("join-request").isEmpty());
    visitor.reset();

    // One address guessing at rooms on both instances is counted once: two
    // misses at the first instance's room, the third at the second's locks it.
    auto otherHost = connectTo(x.second);
    QCOMPARE(creates(*otherHost, create("777000777", QString(64, 'c'), kRightHash)), "created");
    auto guesser = connectTo(x.second, "127.0.0.2");
    for (const QString& room : {kRoom, kRoom, QString("777000777")}) {
      guesser->send(join(room, kWrongHash));
      const QJsonObject denied = guesser->take("unattended-denied");
      QVERIFY(!denied.isEmpty());
      QCOMPARE(denied.contains("retryAfterMs"), room == "777000777");
    }

    // The first instance dies; the host, back through the second, holds its room with its key.
    x.first->process().kill();
    QVERIFY(host->waitClosed(5000));
    auto back = connectTo(x.second);
    QCOMPARE(creates(*back, create(kRoom, kOwnerKey, kRightHash)), "created");
    auto late = connectTo(x.second);
    late->send(join(kRoom));
    QVERIFY(!back->take("join-request").isEmpty());
  }

  // A device key given through one instance opens, from the other, the room
  // a guesser locked; the host's "forget-devices" revokes it for both.
  void deviceKeysAreShared() {
    TwoInstances x({"--max-failures-per-room-per-day", "1"});
    QVERIFY2(x.isUp(), x.output().constData());
    auto host = connectTo(*x.first);
    QCOMPARE(creates(*host, create(kRoom, kOwnerKey, kRightHash)), "created");
    auto attempt = [&](const QString& local, const QString& password, const QString& deviceKey) {
      auto client = connectTo(x.second, local);
      const QJsonValue shown = deviceKey.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(deviceKey);
      client->send(join(kRoom, password, shown));
      const bool answered =
          QTest::qWaitFor([&] { return client->has("approved") || client->has("unattended-denied"); }, 5000);
      const QJsonObject reply = !answered                  ? QJsonObject()
                                : client->has("approved") ? client->take("approved")
                                                          : client->take("unattended-denied");
      if (reply.value("type") == "approved") {
        client.reset();
        std::ignore = host->take("peer-left");
      }
      return reply;
    };
    const QString key = attempt("127.0.0.2", kRightHash, {}).value("deviceKey").toString();
    QVERIFY(!key.isEmpty());
    QVERIFY(!attempt("127.0.0.3", kWrongHash, {}).value("locked").toBool());
    QVERIFY(attempt("127.0.0.4", kRightHash, {}).value("locked").toBool());
    const QString renewed = attempt("127.0.0.5", kRightHash, key).value("deviceKey").toString();
    QVERIFY(!renewed.isEmpty() && renewed != key);
    host->send({{"type", "forget-devices"}});
    QVERIFY(!host->take("devices-forgotten").isEmpty());
    QVERIFY(attempt("127.0.0.6", kRightHash, renewed).value("locked").toBool());
  }

  // The link finds Redis again by its host name after losing it.
  void linkComesBackByName() {
    RedisServerProcess redis;
    QVERIFY2(redis.isReady(), redis.output().constData());
    auto address = parseRedisUrl(redis.url());
    QVERIFY(address);
    address->host = "localhost";
    RedisLink link(*address);
    QCOMPARE(link.open(), QString());
    QSignalSpy lost(&link, &RedisLink::lost);
    QSignalSpy restored(&link, &RedisLink::restored);
    int heard = 0;
    link.subscribe("lunor:test", [&](const QByteArray&) { ++heard; });
    // Subscribed once a message comes through; then Redis drops that connection.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          link.command({"PUBLISH", "lunor:test", "x"});
          return heard > 0;
        }(),
        5000);
    link.command({"CLIENT", "KILL", "TYPE", "pubsub"});
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 10000);
    std::optional<RedisReply> pong;
    link.command({"PING"}, [&](const RedisReply& reply) { pong = reply; });
    QTRY_VERIFY(pong.has_value());
    QCOMPARE(pong->text, QByteArray("PONG"));
    // Subscribed again.
    const int before = heard;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          link.command({"PUBLISH", "lunor:test", "x"});
          return heard > before;
        }(),
        5000);
  }
};

QTEST_GUILESS_MAIN(SignalBinaryTest)
#include "signal_binary_test.moc"
