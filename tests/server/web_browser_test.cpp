// SPDX-License-Identifier: GPL-3.0-or-later
// The web client's files as a browser takes them from lunor-signal: the key
// table module it imports is the application's own, its arithmetic gives
// the application's answers (the password's proof and the code at the
// door included), and the page's policy keeps any script the server did
// not serve from running.

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include "client/input_mapping.h"
#include "client/video_geometry.h"
#include "headless_chromium.h"
#include "protocol/key_codes.h"
#include "protocol/password_proof.h"
#include "protocol/signaling_messages.h"
#include "session/duration_text.h"
#include "signal_server_process.h"

using lunor::test::HeadlessChromium;
using lunor::test::SignalServerProcess;

namespace {

QString json(const QJsonArray& array) { return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)); }

// The same JSON, numbers within rounding.
bool same(const QJsonValue& a, const QJsonValue& b) {
  if (a.isDouble() && b.isDouble()) return std::abs(a.toDouble() - b.toDouble()) < 1e-9;
  if (!a.isArray() || !b.isArray()) return a == b;
  const QJsonArray x = a.toArray(), y = b.toArray();
  return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](auto u, auto v) { return same(u, v); });
}

}  // namespace

class WebBrowserTest : public QObject {
  Q_OBJECT

  std::unique_ptr<SignalServerProcess> server;
  std::unique_ptr<HeadlessChromium> browser;

  // `expression` applied to each row of `rows` by the page's module `module`
  // (bound as m): the results, in order.
  QJsonArray mapped(const QString& module, const QJsonArray& rows, const QString& expression) {
    const auto result = browser->evaluate(
        QStringLiteral("import('/%1').then(m => %2.map(r => %3))").arg(module, json(rows), expression));
    if (!result || !result->isArray()) qWarning() << browser->error();
    return result ? result->toArray() : QJsonArray();
  }

  // `expression` over each row in the page's module gives what `application`
  // gives for the same row (numbers within rounding).
  void sameAsApplication(const QString& module, const QJsonArray& rows, const QString& expression,
                         const std::function<QJsonValue(const QJsonValue& row)>& application) {
    const QJsonArray page = mapped(module, rows, expression);
    QCOMPARE(page.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
      const QJsonValue expected = application(rows[i]);
      QVERIFY2(same(page[i], expected), qPrintable(json({rows[i], page[i], expected})));
    }
  }

 private Q_SLOTS:
  void initTestCase() {
    if (!HeadlessChromium::installed()) QSKIP("no chromium here: scripts/install-deps.sh installs it");
    server = std::make_unique<SignalServerProcess>(QStringList{"--web-root", QStringLiteral(LUNOR_WEB_DIR)});
    QVERIFY(server->isListening());
    browser = std::make_unique<HeadlessChromium>();
    QUrl page = server->url(QStringLiteral("http"));
    page.setPath(QStringLiteral("/keys.js"));
    QVERIFY2(browser->open(page), qPrintable(browser->error()));
  }
  void cleanupTestCase() {
    browser.reset();
    server.reset();
  }

  // The page places the picture, reads the pointer, the wheel and the
  // modifiers and words durations as the application does.
  void thePagesArithmeticIsTheApplications() {
    sameAsApplication("geometry.js",
                      {QJsonArray{"fit", 1920, 1080, 1000, 1000}, QJsonArray{"fill", 1920, 1080, 1000, 1000},
                       QJsonArray{"original", 1920, 1080, 1000, 1000}, QJsonArray{"fit", 1280, 720, 1600, 900},
                       QJsonArray{"fill", 1280, 720, 1600, 900}, QJsonArray{"fit", 1080, 1920, 1600, 900},
                       QJsonArray{"fill", 2560, 1440, 800, 1200}, QJsonArray{"fit", 0, 1080, 1000, 700},
                       QJsonArray{"fill", 1920, -1, 1000, 700}},
                      "(p => [p.x, p.y, p.width, p.height])(m.fittedRect(...r))", [](const QJsonValue& r) {
                        const auto mode = r[0] == "fit"    ? lunor::AspectMode::Fit
                                          : r[0] == "fill" ? lunor::AspectMode::Fill
                                                           : lunor::AspectMode::Native;
                        const QRectF f = lunor::fittedRect(mode, r[1].toDouble(), r[2].toDouble(), r[3].toDouble(),
                                                           r[4].toDouble());
                        return QJsonArray{f.x(), f.y(), f.width(), f.height()};
                      });

    // Points over a picture at (0, 218) sized 1000 x 564, in page space
    // (y downwards); the application's view, 1000 high, counts y upwards.
    sameAsApplication(
        "input.js",
        {QJsonArray{500, 218}, QJsonArray{500, 782}, QJsonArray{1200, 900}, QJsonArray{-5, 300}, QJsonArray{250, 359},
         QJsonArray{999.5, 781.5}},
        "(p => [p.x, p.y])(m.normalisedPosition(r[0], r[1], {left: 0, top: 218, width: 1000, height: 564}))",
        [](const QJsonValue& p) {
          const QPointF n = lunor::normalisedPosition(QPointF(p[0].toDouble(), 1000 - p[1].toDouble()),
                                                      QRectF(0, 1000 - 218 - 564, 1000, 564), {});
          return QJsonArray{n.x(), n.y()};
        });

    // Wheel notches as browsers report them (Chromium: pixels with the notch
    // in wheelDelta; Firefox: 3 lines a notch) and as Qt does (angle deltas,
    // 120 a notch, positive up and left).
    sameAsApplication("input.js",
                      {QJsonArray{QJsonObject{{"deltaMode", 0}, {"deltaY", 100}, {"wheelDeltaY", -120}}, 0, -120},
                       QJsonArray{QJsonObject{{"deltaMode", 0}, {"deltaY", -200}, {"wheelDeltaY", 240}}, 0, 240},
                       QJsonArray{QJsonObject{{"deltaMode", 0}, {"deltaX", -100}, {"wheelDeltaX", 120}}, 120, 0},
                       QJsonArray{QJsonObject{{"deltaMode", 1}, {"deltaY", 3}, {"wheelDeltaY", -3}}, 0, -120},
                       QJsonArray{QJsonObject{{"deltaMode", 1}, {"deltaX", 3}, {"deltaY", -6}}, -120, 240}},
                      "(d => [d.dx, d.dy])(m.wheelPixels({deltaX: 0, deltaY: 0, ...r[0]}))", [](const QJsonValue& w) {
                        const QPointF d = lunor::wheelPixels(QPoint(w[1].toInt(), w[2].toInt()), QPoint());
                        return QJsonArray{d.x(), d.y()};
                      });

    // Modifier flag changes, several at once included.
    using namespace lunor::modifier_flags;
    sameAsApplication("input.js",
                      {QJsonArray{0, int(kShift)}, QJsonArray{int(kShift), 0}, QJsonArray{0, int(kCmd | kShift)},
                       QJsonArray{int(kCmd | kCtrl), int(kAlt | kCtrl)}, QJsonArray{int(kAlt), int(kAlt)}},
                      "m.modifierChanges(r[0], r[1]).map(c => [c.k, c.d])", [](const QJsonValue& f) {
                        QJsonArray changes;
                        for (const auto& message : lunor::modifierChanges(f[0].toInt(), f[1].toInt())) {
                          changes.append(QJsonArray{lunor::modifierName(message.modifier), message.down});
                        }
                        return changes;
                      });

    // The end message's duration, and the wait before a password may be tried again.
    sameAsApplication("text.js", {0, 42, 59, 60, 75, 427, 3599, 3600, 3723, 90061},
                      "m.durationText(1000, 1000 + r * 1000 + 999)",
                      [](const QJsonValue& seconds) { return lunor::endDurationText(seconds.toInt()); });
    sameAsApplication("text.js",
                      {0, 1, 999, 1000, 45'000, 59'001, 60'000, 61'000, 3'599'000, 3'600'000, 86'399'000},
                      "m.waitText(r)", [](const QJsonValue& ms) { return lunor::waitText(ms.toInteger()); });
  }

  // Too many wrong passwords: the page says so and when, and asks only
  // then; a plain wrong one asks again at once.
  void thePageTellsALockFromAWrongPassword() {
    const auto result = browser->evaluate(QStringLiteral(
        "import('/session.js').then(m => [{locked: true, retryAfterMs: 90000}, {retryAfterMs: 5000}, {}].map(d => {"
        "  const s = new m.ClientSession({roomId: '1', signalUrl: 'ws://127.0.0.1:1/signal'});"
        "  s.passwordDenied(d); s.stopTimer('passwordRetry');"
        "  return [s.askPassword, s.passwordNotice.replace(/ \\(à .*\\)$/, '')]; }))"));
    QVERIFY2(result && result->isArray(), qPrintable(browser->error()));
    const QJsonArray answers = result->toArray();
    QCOMPARE(answers.size(), 3);
    QCOMPARE(answers[0].toArray(), (QJsonArray{false, "Trop de mots de passe faux pour cet ordinateur aujourd’hui : réessayez dans 2 min"}));
    QCOMPARE(answers[1].toArray(), (QJsonArray{false, "Trop de tentatives : réessayez dans 5 s"}));
    QCOMPARE(answers[2].toArray(), (QJsonArray{true, "Mot de passe incorrect"}));
  }

  // The page's proof and code give, from the same inputs, every byte the
  // application's gives (the vectors its own test checks), and the host's
  // signature holds for its connection only.
  void theProofIsTheApplications() {
    QFile file(QStringLiteral(LUNOR_PROOF_VECTORS));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QJsonArray vectors = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY(!vectors.isEmpty());
    const QJsonArray page = mapped("proof.js", vectors, R"((v => {
      const bytes = (h) => Uint8Array.from(h.match(/../g), (x) => parseInt(x, 16));
      const hex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('');
      const binding = m.bindingOf(v.hostFingerprint, v.clientFingerprint);
      const sid = bytes(v.sid);
      const client = new m.Exchange(v.clientPassword, sid, binding, bytes(v.clientScalar));
      const host = new m.Exchange(v.hostPassword, sid, binding, bytes(v.hostScalar));
      const completed = client.complete(host.share, false) && host.complete(client.share, true);
      const signed = (b) => m.bindingSigned(bytes(v.identityKey), sid, b, bytes(v.signature));
      return {clientShare: hex(client.share), hostShare: hex(host.share), completed,
              hostConfirm: hex(host.hostConfirm()), clientConfirm: hex(client.clientConfirm()),
              agree: client.confirms(host.hostConfirm(), true),
              shortCode: m.shortCode(binding, bytes(v.hostNonce), bytes(v.clientNonce)),
              commitment: hex(m.codeCommitment(v.clientFingerprint, bytes(v.clientNonce))),
              signed: signed(binding), signedSwapped: signed(m.bindingOf(v.clientFingerprint, v.hostFingerprint)),
              deviceId: hex(m.deviceId(bytes(v.deviceKey))), deviceProof: hex(m.deviceProof(bytes(v.deviceKey), sid, binding))};
    })(r))");
    QCOMPARE(page.size(), vectors.size());
    for (qsizetype i = 0; i < vectors.size(); ++i) {
      QJsonObject expected = vectors[i].toObject();
      expected.insert("completed", true);
      expected.insert("signed", true);
      expected.insert("signedSwapped", false);
      const QJsonObject got = page[i].toObject();
      for (auto it = got.begin(); it != got.end(); ++it) {
        QVERIFY2(it.value() == expected.value(it.key()), qPrintable(QStringLiteral("row %1 %2: %3").arg(i).arg(
                                                              it.key(), json({it.value(), expected.value(it.key())}))));
      }
    }
  }

  // The host's half of the code is taken, or ignored, as the application
  // takes it: a fingerprint written as the descriptions give it, a nonce of
  // its size in its one base64 spelling.
  void theHostsHalfOfTheCodeIsReadAsTheApplicationReadsIt() {
    const QString nonce = QByteArray(16, '\x10').toBase64();
    const auto row = [&](const QJsonValue& fingerprint, const QJsonValue& n) {
      return QJsonObject{{"fingerprint", fingerprint}, {"nonce", n}};
    };
    const QString digest = QStringList(85, "AB").join(':');  // 254 characters
    sameAsApplication(
        "proof.js",
        {row("sha-256 AB:CD:EF", nonce), row("sha-1 0F", nonce), row("sha-256 " + digest + ":0", nonce),
         row("sha-256 " + digest + ":01", nonce), row("sha-256 ab:cd", nonce), row("SHA-256 AB", nonce),
         row("sha-256  AB", nonce), row(" sha-256 AB", nonce), row("sha-256 AB\r", nonce), row("sha-256", nonce),
         row("sha-256 AB:GH", nonce), row("sha-256 AB\na=fingerprint:sha-256 AB", nonce), row("sha\t256 AB", nonce),
         row("", nonce), row(42, nonce), row("sha-256 AB", QByteArray(15, 1).toBase64().constData()),
         row("sha-256 AB", QByteArray(17, 1).toBase64().constData()), row("sha-256 AB", "EBAQEBAQEBAQEBAQEBAQER=="),
         row("sha-256 AB", "EBAQEBAQEBAQEBAQEBAQEA"), row("sha-256 AB", "-BAQEBAQEBAQEBAQEBAQEA=="),
         row("sha-256 AB", 16), QJsonObject{{"fingerprint", "sha-256 AB"}}},
        "(p => p && [p.fingerprint, Array.from(p.nonce, x => x.toString(16).padStart(2, '0')).join('')])"
        "(m.codePartOf(r))",
        [](const QJsonValue& message) -> QJsonValue {
          const auto part = lunor::signaling::codePartOf(message.toObject());
          if (!part) return QJsonValue::Null;
          return QJsonArray{QString::fromLatin1(part->fingerprint), QString::fromLatin1(part->nonce.toHex())};
        });
  }

  // The page commits to the certificate its connections carry, reveals its
  // half once and only while the host's person decides, shows the code the
  // host's panel shows, and answers no offer with another certificate than
  // the one the host named; a host that names none is answered as before.
  void thePagesCodeIsTheHostsAndBindsItsConnection_data() {
    QTest::addColumn<QString>("messages");  // between "waiting-approval" and two offers from the host
    QTest::addColumn<QString>("named");     // the certificate the code was made with, if any
    QTest::addColumn<QString>("ended");
    QTest::newRow("the host's") << "say(code(host)); say(approved)" << "host" << "";
    QTest::newRow("a relay's") << "say(code(relay)); say(approved)" << "relay"
                               << "La connexion ne correspond pas au code de vérification";
    QTest::newRow("a second one is not taken") << "say(code(host)); say(code(relay)); say(approved)" << "host" << "";
    QTest::newRow("none (an older host)") << "say(approved)" << "" << "";
    QTest::newRow("one after the answer") << "say(approved); say(code(relay))" << "" << "";
  }
  void thePagesCodeIsTheHostsAndBindsItsConnection() {
    QFETCH(QString, messages);
    QFETCH(QString, named);
    QFETCH(QString, ended);
    const auto result = browser->evaluate(QStringLiteral(R"(import('/session.js').then(async m => {
      const p = await import('/proof.js');
      const offerFrom = async () => {
        const certificate = await RTCPeerConnection.generateCertificate({name: 'ECDSA', namedCurve: 'P-256'});
        const pc = new RTCPeerConnection({certificates: [certificate]});
        pc.createDataChannel('proof');
        const offer = await pc.createOffer();
        pc.close();
        return offer.sdp;
      };
      const sdps = {host: await offerFrom(), relay: await offerFrom()};
      const nonce = btoa('n'.repeat(16));
      const code = (sdp) => ({type: 'join-code', fingerprint: p.sdpFingerprint(sdp), nonce});
      const [host, relay, approved] = [sdps.host, sdps.relay, {type: 'approved'}];
      const s = new m.ClientSession({roomId: '1', signalUrl: 'ws://127.0.0.1:1/signal'});
      s.openSocket = () => {};
      await s.start();
      const sent = [];
      s.send = (message) => sent.push(message);
      const say = (message) => s.handle(message);
      s.sendJoin(null);
      say({type: 'waiting-approval'});
      %1;
      // Each connection of the session: the first, and one after a reconnection.
      for (let i = 0; i < 2 && !s.ended; ++i) {
        if (i) s.closeConnection();
        say({type: 'signal', data: {type: 'offer', sdp: {type: 'offer', sdp: host}}});
        await s.negotiation;
      }
      const result = {
        commit: sent.find(x => x.type === 'join').commit, reveals: sent.filter(x => x.type === 'join-reveal'),
        answers: sent.filter(x => x.type === 'signal' && x.data.type === 'answer').map(x => p.sdpFingerprint(x.data.sdp.sdp)),
        signals: sent.filter(x => x.type === 'signal').map(x => x.data.type),
        code: s.verificationCode, ended: s.endReason || '', named: %2 ? p.sdpFingerprint(sdps[%2]) : '', nonce};
      s.endSession('test', true);
      return result;
    }))")
                                                     .arg(messages, HeadlessChromium::literal(named)));
    QVERIFY2(result && result->isObject(), qPrintable(browser->error()));
    const QJsonObject page = result->toObject();
    QCOMPARE(page["ended"].toString(), ended);
    const QJsonArray answers = page["answers"].toArray();
    const QJsonArray reveals = page["reveals"].toArray();
    if (ended.isEmpty()) {
      // Both connections with the session's one certificate.
      QCOMPARE(answers.size(), 2);
      QCOMPARE(answers[1], answers[0]);
    } else {
      // Refused before anything of the connection: only why it ends goes.
      QCOMPARE(page["signals"].toArray(), QJsonArray{"end"});
    }
    QCOMPARE(reveals.size(), named.isEmpty() ? 0 : 1);
    if (named.isEmpty()) {
      QCOMPARE(page["code"].toString(), QString());
      return;
    }
    // What the host checks and shows, from what it sent and received.
    const QByteArray own = reveals[0]["fingerprint"].toString().toLatin1();
    const QByteArray clientNonce = QByteArray::fromBase64(reveals[0]["nonce"].toString().toLatin1());
    for (const auto& answer : answers) QCOMPARE(answer.toString().toLatin1(), own);
    QCOMPARE(lunor::proof::codeCommitment(own, clientNonce),
             QByteArray::fromBase64(page["commit"].toString().toLatin1()));
    const QString shown = lunor::proof::shortCode({page["named"].toString().toLatin1(), own},
                                                  QByteArray::fromBase64(page["nonce"].toString().toLatin1()),
                                                  clientNonce);
    QVERIFY(!shown.isEmpty());
    QCOMPARE(page["code"].toString(), shown);
  }

  // A host met before (its identity kept) proves the password itself from
  // then on: a server asking this browser for the password's digest is
  // refused before anything is sent, while a host never met keeps the
  // digest's way and one that proves it gets no digest.
  void aHostMetBeforeGetsNoDigest_data() {
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("proof");
    QTest::addColumn<QString>("expected");  // how it ended, if it did; the joins the password sent
    QTest::newRow("met, the server asks the digest") << true << "" << "L'identité de cet ordinateur a changé, []";
    QTest::newRow("met, the host proves") << true << "host" << R"([{"proof":"host"}])";
    QTest::newRow("never met, the server asks the digest") << false << "" << R"([{"passwordHash":"<64>"}])";
    QTest::newRow("never met, the host proves") << false << "host" << R"([{"proof":"host"}])";
  }
  void aHostMetBeforeGetsNoDigest() {
    QFETCH(bool, known);
    QFETCH(QString, proof);
    QFETCH(QString, expected);
    const auto result = browser->evaluate(QStringLiteral(R"(import('/session.js').then(async m => {
      const s = new m.ClientSession({roomId: '1', hostKey: %1 ? btoa('k'.repeat(32)) : undefined,
                                     signalUrl: 'ws://127.0.0.1:1/signal'});
      const sent = [];
      s.send = (message) => sent.push(message);
      s.handle({type: 'require-unattended', ...(%2 ? {proof: %2} : {})});
      const ended = s.endReason ? s.endReason + ', ' : '';
      await s.submitPassword('correct horse');  // (not asked once it ended)
      s.endSession('test', true);
      return ended + JSON.stringify(sent.filter(j => j.type === 'join').map(({type, roomId, displayName, ...rest}) => rest))
          .replace(/"[0-9a-f]{64}"/g, '"<64>"');
    }))")
                                                     .arg(known ? "true" : "false", HeadlessChromium::literal(proof)));
    QVERIFY2(result, qPrintable(browser->error()));
    QCOMPARE(result->toString(), expected);
  }

  // DOM events over the picture become the messages the application's
  // client sends for the same actions. The picture is 400 x 200 at (100, 50).
  void thePagesInputIsTheApplicationsMessages_data() {
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("expected");
    // "@" in what is expected stands for the display the picture is of.
    QTest::newRow("click") << "mouse('mousedown', 0, 200, 100); mouse('mouseup', 0, 200, 100)"
        << R"([{"t":"mdown","b":0,"x":0.25,"y":0.25@},{"t":"mup","b":0,"x":0.25,"y":0.25@}])";
    QTest::newRow("right double click")
        << "mouse('mousedown', 2, 100, 250); mouse('mouseup', 2, 100, 250);"
           " mouse('mousedown', 2, 100, 250, 2); mouse('mouseup', 2, 100, 250, 2)"
        << R"([{"t":"mdown","b":1,"x":0,"y":1@},{"t":"mup","b":1,"x":0,"y":1@},{"t":"doubleclick","b":1,"x":0,"y":1@},{"t":"mup","b":1,"x":0,"y":1@}])";
    QTest::newRow("third click presses") << "mouse('mousedown', 0, 500, 50, 3)"
        << R"([{"t":"mdown","b":0,"x":1,"y":0@}])";
    QTest::newRow("drag, out of the picture")
        << "mouse('mousedown', 0, 300, 150); mouse('mousemove', 0, 900, -40, 1, 1); mouse('mouseup', 0, 900, -40)"
        << R"([{"t":"mdown","b":0,"x":0.5,"y":0.5@},{"t":"drag","b":0,"x":1,"y":0@},{"t":"mup","b":0,"x":1,"y":0@}])";
    QTest::newRow("hover") << "mouse('mousemove', 0, 140, 70, 0)" << R"([{"t":"move","x":0.1,"y":0.1@}])";
    QTest::newRow("middle button is not sent") << "mouse('mousedown', 1, 200, 100); mouse('mouseup', 1, 200, 100)"
        << R"([])";
    QTest::newRow("a release without its press is not sent") << "mouse('mouseup', 0, 200, 100)" << R"([])";
    QTest::newRow("shifted key")
        << "key('keydown', 'ShiftLeft', 'Shift', {shiftKey: true}); key('keydown', 'KeyA', 'A', {shiftKey: true});"
           " key('keyup', 'KeyA', 'A', {shiftKey: true}); key('keyup', 'ShiftLeft', 'Shift')"
        << R"([{"t":"mod","k":"shift","d":true},{"t":"keydown","keyCode":0@},{"t":"keyup","keyCode":0@},{"t":"mod","k":"shift","d":false}])";
    QTest::newRow("modifier pressed elsewhere") << "key('keydown', 'KeyC', 'c', {ctrlKey: true})"
        << R"([{"t":"mod","k":"ctrl","d":true},{"t":"keydown","keyCode":8@}])";
    QTest::newRow("command and option at once") << "key('keydown', 'KeyZ', 'z', {metaKey: true, altKey: true})"
        << R"([{"t":"mod","k":"cmd","d":true},{"t":"mod","k":"alt","d":true},{"t":"keydown","keyCode":6@}])";
    QTest::newRow("caps lock and F11 stay here")
        << "key('keydown', 'CapsLock', 'CapsLock'); key('keydown', 'F11', 'F11'); key('keyup', 'F11', 'F11')"
        << R"([])";
    QTest::newRow("a character without a key")
        << "key('keydown', '', 'é'); key('keyup', '', 'é'); key('keydown', 'Unidentified', '😀')"
        << R"([{"t":"keydown","key":"é"@},{"t":"keyup","key":"é"@}])";
    QTest::newRow("command shortcut as macOS browsers tell it")
        << "key('keydown', 'MetaLeft', 'Meta', {metaKey: true}); key('keydown', 'KeyC', 'c', {metaKey: true});"
           " key('keyup', 'MetaLeft', 'Meta')"
        << R"([{"t":"mod","k":"cmd","d":true},{"t":"keydown","keyCode":8@},{"t":"keyup","keyCode":8@},{"t":"mod","k":"cmd","d":false}])";
    QTest::newRow("a character key let go after shift")
        << "key('keydown', 'ShiftLeft', 'Shift', {shiftKey: true}); key('keydown', 'IntlRo', '_', {shiftKey: true});"
           " key('keyup', 'ShiftLeft', 'Shift'); key('keyup', 'IntlRo', '\\\\')"
        << R"([{"t":"mod","k":"shift","d":true},{"t":"keydown","key":"_"@},{"t":"mod","k":"shift","d":false},{"t":"keyup","key":"_"@}])";
    QTest::newRow("losing the keyboard lets go of everything")
        << "mouse('mousedown', 0, 300, 150); key('keydown', 'KeyJ', 'j'); key('keydown', 'AltLeft', 'Alt', "
           "{altKey: true}); area.dispatchEvent(new FocusEvent('blur'))"
        << R"([{"t":"mdown","b":0,"x":0.5,"y":0.5@},{"t":"keydown","keyCode":38@},{"t":"mup","b":0,"x":0.5,"y":0.5@},{"t":"keyup","keyCode":38@}])";
    // Modifiers reach the host with what they modify, or as a tap let go alone;
    // Ctrl+Alt+Shift pressed and let go alone is the page's, never the host's.
    const QString chord = "key('keydown', 'ControlLeft', 'Control', {ctrlKey: true});"
                          " key('keydown', 'AltLeft', 'Alt', {ctrlKey: true, altKey: true});"
                          " key('keydown', 'ShiftLeft', 'Shift', {ctrlKey: true, altKey: true, shiftKey: true});";
    const QString letGo = " key('keyup', 'ShiftLeft', 'Shift', {ctrlKey: true, altKey: true});"
                          " key('keyup', 'AltLeft', 'Alt', {ctrlKey: true}); key('keyup', 'ControlLeft', 'Control')";
    QTest::newRow("the way out") << chord + letGo << R"([{"left":true}])";
    QTest::newRow("the chord with a key is the host's")
        << chord + " key('keydown', 'KeyT', 'T', {ctrlKey: true, altKey: true, shiftKey: true});"
                   " key('keyup', 'KeyT', 'T', {ctrlKey: true, altKey: true, shiftKey: true});" + letGo
        << R"([{"t":"mod","k":"shift","d":true},{"t":"mod","k":"alt","d":true},{"t":"mod","k":"ctrl","d":true},{"t":"keydown","keyCode":17@},{"t":"keyup","keyCode":17@},{"t":"mod","k":"shift","d":false},{"t":"mod","k":"alt","d":false},{"t":"mod","k":"ctrl","d":false}])";
    QTest::newRow("a modifier tapped alone") << "key('keydown', 'MetaLeft', 'Meta', {metaKey: true}); key('keyup', 'MetaLeft', 'Meta')"
        << R"([{"t":"mod","k":"cmd","d":true},{"t":"mod","k":"cmd","d":false}])";
    QTest::newRow("wheel notch in lines")
        << "picture.dispatchEvent(new WheelEvent('wheel', {clientX: 300, clientY: 150, deltaY: 3, deltaMode: 1,"
           " cancelable: true}))"
        << R"([{"t":"scroll","x":0.5,"y":0.5,"dx":0,"dy":40@}])";
    QTest::newRow("nothing once the session is over")
        << "input.setEnabled(false); mouse('mousedown', 0, 200, 100); key('keydown', 'KeyA', 'a')"
        << R"([])";
  }
  void thePagesInputIsTheApplicationsMessages() {
    QFETCH(QString, actions);
    QFETCH(QString, expected);
    expected.replace("@", R"(,"displayIndex":1)");
    const auto sent = browser->evaluate(QStringLiteral(R"(import('/input.js').then(m => {
      const area = document.createElement('div');
      area.tabIndex = 0;
      const picture = document.createElement('div');
      picture.style.cssText = 'position: fixed; left: 100px; top: 50px; width: 400px; height: 200px';
      area.append(picture);
      document.body.append(area);
      const sent = [];
      const input = new m.InputCapture(area, picture, (message) => sent.push(message), () => 1,
                                       () => sent.push({left: true}));
      input.setEnabled(true);
      const mouse = (type, button, x, y, detail = 1, buttons = 0) => picture.dispatchEvent(
          new MouseEvent(type, {button, buttons, detail, clientX: x, clientY: y, bubbles: true, cancelable: true}));
      const key = (type, code, key, extra = {}) => area.dispatchEvent(
          new KeyboardEvent(type, {code, key, bubbles: true, cancelable: true, ...extra}));
      %1;
      const result = JSON.stringify(sent);
      area.remove();  // (which lets go of anything still held)
      return result;
    }))")
                                            .arg(actions));
    QVERIFY2(sent, qPrintable(browser->error()));
    QCOMPARE(QJsonDocument::fromJson(sent->toString().toUtf8()).array(),
             QJsonDocument::fromJson(expected.toUtf8()).array());
  }

  // TURN servers a server hands over that the browser would refuse are
  // dropped, not let break every offer that follows.
  void turnServersTheBrowserRefusesAreDropped() {
    const auto kept = browser->evaluate(
        "import('/session.js').then(m => {"
        "  const s = new m.ClientSession({roomId: '1', signalUrl: 'ws://127.0.0.1:1/signal'});"
        "  const sizes = [];"
        "  for (const urls of [['turn:['], ['stun:'], ['turn:127.0.0.1:3478?transport=udp']]) {"
        "    s.useIceServers(m.iceServersOf({iceServers: [{urls, username: 'u', credential: 'c'}]}));"
        "    sizes.push(s.iceServers.length);"
        "  }"
        "  return sizes; })");
    QVERIFY2(kept, qPrintable(browser->error()));
    QCOMPARE(kept->toArray(), (QJsonArray{0, 0, 1}));
  }

  // The host's words (display names, end reasons) are cleaned as the
  // application cleans them before the page shows them.
  void thePageCleansTheHostsWordsAsTheApplicationDoes() {
    const QString keys = QString(150, QChar(0x2026)).replace(QChar(0x2026), QString::fromUtf8("🔑"));
    const QJsonArray texts{"Écran 1",
                           "  Alice \t\n Martin  ",
                           QString::fromUtf8("\u202Eevil\u202C done \u2066x\u2069"),
                           "bell\u0007 and \u001b[31mred",
                           QString::fromUtf8("a\u00a0\u2003b\u3000c\u0085d"),
                           QString(400, 'x'),
                           QString(299, 'y') + keys,
                           QString(298, 'y') + keys,
                           QString(63, 'n') + "  " + QString(10, 'm'),
                           ""};
    for (const int limit : {lunor::kMaxPeerNameChars, lunor::kMaxPeerReasonChars}) {
      sameAsApplication("text.js", texts, QStringLiteral("m.peerText(r, %1)").arg(limit),
                        [limit](const QJsonValue& text) { return lunor::peerText(text.toString(), limit); });
    }
  }

  // Pages served over plain HTTP away from localhost have no crypto.subtle:
  // the page's own digest must be the one the host compares.
  void thePagesPasswordDigestIsTheApplications() {
    const QJsonArray texts{"", "abc", "correct horse", "mot de passe é ∑ 🔑", QString(55, 'a'), QString(56, 'a'),
                           QString(64, 'b'), QString(1000, 'z')};
    sameAsApplication("sha256.js", texts, "m.sha256Bytes(new TextEncoder().encode(r))", [](const QJsonValue& text) {
      return QString::fromLatin1(QCryptographicHash::hash(text.toString().toUtf8(), QCryptographicHash::Sha256).toHex());
    });
  }

  void theBrowsersKeyTableIsTheApplications() {
    const auto table = browser->evaluate("import('/keys.js').then(m => m.macKeyCodes)");
    QVERIFY2(table && table->isObject(), qPrintable(browser->error()));
    const QJsonObject codes = table->toObject();
    const auto keys = lunor::macKeyTable();
    QCOMPARE(codes.size(), qsizetype(keys.size()));
    for (const auto& [mac, key] : keys) QCOMPARE(codes.value(QLatin1String(key.domCode)).toInt(-1), int(mac));

    // A script the page makes up itself does not run: inline scripts are
    // not the server's.
    const auto ran = browser->evaluate(
        "new Promise(done => { window.ran = false; const s = document.createElement('script');"
        " s.textContent = 'window.ran = true'; document.documentElement.appendChild(s);"
        " setTimeout(() => done(window.ran), 200); })");
    QVERIFY2(ran, qPrintable(browser->error()));
    QCOMPARE(ran->toBool(), false);
  }

  // Every text of the page against what is behind it, in both themes, at
  // WCAG AA: 4.5:1, or 3:1 for large text. Every part is shown at once:
  // the directory with a recent host and a wrong ID, the stage with the
  // wait, its code and the password's way back, the menus, the dialogs.
  void everyTextIsReadableInBothThemes() {
    QUrl page = server->url(QStringLiteral("http"));
    page.setPath(QStringLiteral("/"));
    QVERIFY2(browser->open(page), qPrintable(browser->error()));
    QVERIFY(browser->evaluate(
        "localStorage.setItem('lunor.recents', JSON.stringify([{id: '604203413', lastConnectedAt: 1}])); true"));
    QVERIFY2(browser->open(page), qPrintable(browser->error()));
    for (const char* scheme : {"light", "dark"}) {
      browser->call("Emulation.setEmulatedMedia",
                    {{"features", QJsonArray{QJsonObject{{"name", "prefers-color-scheme"}, {"value", scheme}}}}}, true);
      const auto failures = browser->evaluate(QStringLiteral(R"((() => {
        const $ = (id) => document.getElementById(id);
        const id = $('session-id');
        id.value = '12';
        id.form.requestSubmit();
        for (const e of document.querySelectorAll('#stage, #stage [hidden], .menu')) e.hidden = false;
        for (const m of document.querySelectorAll('.menu'))
          m.innerHTML = '<div class="menu-heading">Qualité</div><button class="menu-item checked">Basse</button>';
        $('verification-code').textContent = '123 456';
        $('password-notice').textContent = 'Mot de passe incorrect';
        $('end-message').textContent = 'Hôte introuvable';
        for (const d of document.querySelectorAll('dialog')) d.show();
        const parse = (text) => {
          const n = text.match(/[\d.]+/g).map(Number);
          const srgb = text.startsWith('color(');
          return {r: srgb ? n[0] * 255 : n[0], g: srgb ? n[1] * 255 : n[1], b: srgb ? n[2] * 255 : n[2],
                  a: n.length > 3 ? n[3] : 1};
        };
        const over = (top, under) => ({r: top.r * top.a + under.r * (1 - top.a), g: top.g * top.a + under.g * (1 - top.a),
                                       b: top.b * top.a + under.b * (1 - top.a), a: 1});
        const behind = (element) => {
          const layers = [];
          for (let e = element; e; e = e.parentElement) {
            const c = parse(getComputedStyle(e).backgroundColor);
            if (c.a > 0) layers.push(c);
            if (c.a >= 1) break;
          }
          const page = matchMedia('(prefers-color-scheme: dark)').matches ? {r: 0, g: 0, b: 0, a: 1}
                                                                           : {r: 255, g: 255, b: 255, a: 1};
          return layers.reverse().reduce((under, top) => over(top, under), page);
        };
        const luminance = (c) => [c.r, c.g, c.b].map((v) => {
          v /= 255;
          return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4;
        }).reduce((sum, v, i) => sum + v * [0.2126, 0.7152, 0.0722][i], 0);
        const failures = [];
        for (const e of document.querySelectorAll('body *')) {
          const text = [...e.childNodes].filter((n) => n.nodeType === 3).map((n) => n.textContent).join('').trim();
          const field = e.matches('input') && e.value;
          if ((!text && !field) || e.disabled || !e.getClientRects().length) continue;
          const style = getComputedStyle(e);
          if (style.visibility === 'hidden') continue;
          const bg = behind(e);
          const fg = over(parse(style.color), bg);
          const [hi, lo] = [luminance(fg), luminance(bg)].sort((a, b) => b - a);
          const ratio = (hi + 0.05) / (lo + 0.05);
          const size = parseFloat(style.fontSize);
          const large = size >= 24 || (size >= 18.66 && Number(style.fontWeight) >= 700);
          if (ratio < (large ? 3 : 4.5)) failures.push(`${text || e.value} ${style.color} on ${JSON.stringify(bg)}: ${ratio.toFixed(2)}`);
        }
        return failures;
      })())"));
      QVERIFY2(failures, qPrintable(browser->error()));
      QVERIFY2(failures->toArray().isEmpty(), qPrintable(QString(scheme) + ": " + json(failures->toArray())));
    }
  }
};

QTEST_GUILESS_MAIN(WebBrowserTest)
#include "web_browser_test.moc"
