// SPDX-License-Identifier: GPL-3.0-or-later
// The web client's files as the server serves them, with their headers; the
// key table and wire names, made from the application's own.

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "protocol/key_codes.h"
#include "test_files.h"
#include "web_files.h"
#include "web_key_table.h"
#include "web_schema.h"

using namespace lunor::signal;

namespace {

struct Answer {
  int status = 0;
  QHash<QByteArray, QByteArray> headers;  // names in lower case
  QByteArray body;
};

Answer parse(const QByteArray& raw) {
  Answer a;
  const int end = raw.indexOf("\r\n\r\n");
  const QList<QByteArray> lines = raw.left(end).split('\n');
  a.status = lines.front().split(' ').value(1).toInt();
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const int colon = lines[i].indexOf(':');
    a.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
  }
  a.body = raw.mid(end + 4);
  return a;
}

HttpHead get(const QByteArray& target, const QByteArray& method = "GET") { return {method, target, {}, false}; }

}  // namespace

class WebFilesTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    root_ = dir_.filePath("web");
    using lunor::test::writeFile;
    QVERIFY(writeFile(root_ + "/index.html", "<!doctype html><title>Lunor</title>") &&
            writeFile(root_ + "/app.js", "export const x = 1;\n") && writeFile(root_ + "/style.css", "body{}") &&
            writeFile(root_ + "/icons/logo.svg", "<svg/>") && writeFile(root_ + "/.env", "SECRET=1") &&
            writeFile(dir_.filePath("secret.txt"), "outside"));
    QVERIFY(QFile::link(dir_.filePath("secret.txt"), root_ + "/escape.txt"));
  }

  void served_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("the root is the page") << QByteArray("/") << QByteArray("text/html; charset=utf-8")
                                          << QByteArray("<!doctype html><title>Lunor</title>");
    QTest::newRow("a module") << QByteArray("/app.js?v=3") << QByteArray("text/javascript; charset=utf-8")
                              << QByteArray("export const x = 1;\n");
    QTest::newRow("a style") << QByteArray("/style.css") << QByteArray("text/css; charset=utf-8") << QByteArray("body{}");
    QTest::newRow("in a folder, escaped") << QByteArray("/icons/logo%2Esvg") << QByteArray("image/svg+xml")
                                          << QByteArray("<svg/>");
  }
  void served() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    const Answer a = parse(WebFiles(root_).respond(get(target), false));
    QCOMPARE(a.status, 200);
    QCOMPARE(a.headers.value("content-type"), type);
    QCOMPARE(a.body, body);
    QCOMPARE(a.headers.value("content-length").toInt(), body.size());
    QCOMPARE(a.headers.value("cache-control"), QByteArray("no-cache"));
    QVERIFY(!a.headers.value("etag").isEmpty());
  }

  void neverServed_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<int>("status");
    QTest::newRow("missing") << QByteArray("/nothing.js") << QByteArray("GET") << 404;
    QTest::newRow("a folder, no listing") << QByteArray("/icons") << QByteArray("GET") << 404;
    QTest::newRow("a folder with a slash") << QByteArray("/icons/") << QByteArray("GET") << 404;
    QTest::newRow("climbing out") << QByteArray("/../secret.txt") << QByteArray("GET") << 404;
    QTest::newRow("climbing out, escaped") << QByteArray("/%2e%2e/secret.txt") << QByteArray("GET") << 404;
    QTest::newRow("a hidden file") << QByteArray("/.env") << QByteArray("GET") << 404;
    QTest::newRow("a link out of the root") << QByteArray("/escape.txt") << QByteArray("GET") << 404;
    QTest::newRow("a backslash") << QByteArray("/..%5csecret.txt") << QByteArray("GET") << 404;
    QTest::newRow("a NUL") << QByteArray("/index.html%00.js") << QByteArray("GET") << 404;
    QTest::newRow("not a path") << QByteArray("http://elsewhere/") << QByteArray("GET") << 404;
    QTest::newRow("posting") << QByteArray("/") << QByteArray("POST") << 405;
  }
  void neverServed() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, method);
    QFETCH(int, status);
    const Answer a = parse(WebFiles(root_).respond(get(target, method), false));
    QCOMPARE(a.status, status);
    QVERIFY(!a.body.contains("SECRET") && !a.body.contains("outside") && !a.body.contains("logo"));
  }

  // Whatever the answer, the security headers; HSTS only over TLS.
  void everyAnswerIsGuarded_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("tls");
    QTest::newRow("a file") << QByteArray("/") << false;
    QTest::newRow("a file over TLS") << QByteArray("/app.js") << true;
    QTest::newRow("not found") << QByteArray("/missing") << false;
  }
  void everyAnswerIsGuarded() {
    QFETCH(QByteArray, target);
    QFETCH(bool, tls);
    const Answer a = parse(WebFiles(root_).respond(get(target), tls));
    const QByteArray csp = a.headers.value("content-security-policy");
    QVERIFY(csp.contains("script-src 'self'"));
    QVERIFY(!csp.contains("unsafe-inline") && !csp.contains("unsafe-eval"));
    QVERIFY(csp.contains("frame-ancestors 'none'"));
    QCOMPARE(a.headers.value("x-content-type-options"), QByteArray("nosniff"));
    QCOMPARE(a.headers.value("referrer-policy"), QByteArray("no-referrer"));
    QCOMPARE(a.headers.contains("strict-transport-security"), tls);
  }

  void revalidatedByItsContent() {
    const WebFiles files(root_);
    const Answer first = parse(files.respond(get("/app.js"), false));
    HttpHead again = get("/app.js");
    again.ifNoneMatch = first.headers.value("etag");
    const Answer unchanged = parse(files.respond(again, false));
    QCOMPARE(unchanged.status, 304);
    QVERIFY(unchanged.body.isEmpty());
    const Answer head = parse(files.respond(get("/app.js", "HEAD"), false));
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
    QCOMPARE(head.headers.value("content-length"), first.headers.value("content-length"));
  }

  void headsAreParsed_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<bool>("malformed");
    QTest::addColumn<bool>("upgrade");
    QTest::newRow("a page") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << true << false << false;
    QTest::newRow("the WebSocket") << QByteArray("GET /signal HTTP/1.1\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n\r\n")
                                   << true << false << true;
    QTest::newRow("not yet whole") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << false << false << false;
    QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01 hello\r\n\r\n") << false << true << false;
  }
  void headsAreParsed() {
    QFETCH(QByteArray, raw);
    QFETCH(bool, complete);
    QFETCH(bool, malformed);
    QFETCH(bool, upgrade);
    bool bad = false;
    const auto head = parseHttpHead(raw, &bad);
    QCOMPARE(head.has_value(), complete);
    QCOMPARE(bad, malformed);
    if (head) QCOMPARE(head->upgrade, upgrade);
  }

  void theBuiltKeyTableIsCurrent() {
    QFile built(QStringLiteral(LUNOR_WEB_DIR "/keys.js"));
    QVERIFY2(built.open(QIODevice::ReadOnly), qPrintable(built.fileName()));
    QCOMPARE(built.readAll(), webKeyTableModule());
  }

  // The wire's names and bounds the page imports are the ones the build made
  // from the application's, and each one a script of the page asks for is there.
  void theBuiltSchemaIsCurrentAndHasWhatThePageUses() {
    const QByteArray schema = webSchemaModule();
    QFile built(QStringLiteral(LUNOR_WEB_DIR "/schema.js"));
    QVERIFY2(built.open(QIODevice::ReadOnly), qPrintable(built.fileName()));
    QCOMPARE(built.readAll(), schema);
    static const QRegularExpression use(QStringLiteral(R"(\b(?:messageTypes|payloadTypes|controlTypes|limits)\.(\w+))"));
    for (const QFileInfo& script : QDir(QStringLiteral(LUNOR_WEB_DIR)).entryInfoList({"*.js"})) {
      QFile file(script.filePath());
      QVERIFY(file.open(QIODevice::ReadOnly));
      for (const QRegularExpressionMatch& match : use.globalMatch(QString::fromUtf8(file.readAll()))) {
        QVERIFY2(schema.contains('"' + match.captured(1).toUtf8() + "\":"),
                 qPrintable(script.fileName() + ": " + match.captured()));
      }
    }
  }

  // The browser's names against the keys' places: a name on the wrong row
  // would type another key on the host.
  void keyNamesMatchTheirKeys_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("evdev");
    QTest::newRow("A") << "KeyA" << 30;
    QTest::newRow("Z (QWERTY place)") << "KeyZ" << 44;
    QTest::newRow("5") << "Digit5" << 6;
    QTest::newRow("Enter") << "Enter" << 28;
    QTest::newRow("the ISO key") << "IntlBackslash" << 86;
    QTest::newRow("left command") << "MetaLeft" << 125;
    QTest::newRow("right option") << "AltRight" << 100;
    QTest::newRow("F13") << "F13" << 183;
    QTest::newRow("keypad 7") << "Numpad7" << 71;
    QTest::newRow("keypad enter") << "NumpadEnter" << 96;
    QTest::newRow("up") << "ArrowUp" << 103;
  }
  void keyNamesMatchTheirKeys() {
    QFETCH(QString, code);
    QFETCH(int, evdev);
    const auto mac = lunor::macKeyForEvdev(uint16_t(evdev));
    QVERIFY(mac);
    QCOMPARE(QString::fromLatin1(lunor::macKeyToLinux(*mac)->domCode), code);
  }

 private:
  QTemporaryDir dir_;
  QString root_;
};

QTEST_GUILESS_MAIN(WebFilesTest)
#include "web_files_test.moc"
