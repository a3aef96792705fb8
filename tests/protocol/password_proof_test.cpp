// SPDX-License-Identifier: GPL-3.0-or-later
// The password's proof: agreement only with the same password on the same
// connection, signatures bound to it, hostile messages refused whole.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <sodium.h>

#include "protocol/password_proof.h"

using namespace lunor;
using namespace lunor::proof;

Q_DECLARE_METATYPE(lunor::proof::Binding)

namespace {

const Binding kBinding{"sha-256 AA:BB", "sha-256 CC:DD"};

// Both halves run; true when each confirms the other.
bool agree(const QByteArray& clientSecret, const QByteArray& hostSecret, const Binding& clientSees,
           const Binding& hostSees, const QByteArray& clientSid, const QByteArray& hostSid) {
  Exchange client(clientSecret, clientSid, clientSees);
  Exchange host(hostSecret, hostSid, hostSees);
  if (!host.complete(client.share(), true) || !client.complete(host.share(), false)) return false;
  return client.confirms(host.hostConfirm(), true) && host.confirms(client.clientConfirm(), false);
}

}  // namespace

class PasswordProofTest final : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void agreement_data() {
    QTest::addColumn<QByteArray>("clientSecret");
    QTest::addColumn<Binding>("clientSees");
    QTest::addColumn<bool>("sameSid");
    QTest::addColumn<bool>("agrees");
    const QByteArray right = "mot de passe é";
    QTest::newRow("same password, same connection") << right << kBinding << true << true;
    QTest::newRow("wrong password") << QByteArray("mot de passe e") << kBinding << true << false;
    QTest::newRow("empty password") << QByteArray() << kBinding << true << false;
    QTest::newRow("relay swapped the host's certificate")
        << right << Binding{"sha-256 EE:FF", kBinding.clientFingerprint} << true << false;
    QTest::newRow("relay swapped the client's certificate")
        << right << Binding{kBinding.hostFingerprint, "sha-256 EE:FF"} << true << false;
    QTest::newRow("an earlier exchange's session") << right << kBinding << false << false;
  }
  void agreement() {
    QFETCH(QByteArray, clientSecret);
    QFETCH(Binding, clientSees);
    QFETCH(bool, sameSid);
    QFETCH(bool, agrees);
    const QByteArray sid = newSid();
    QCOMPARE(agree(clientSecret, "mot de passe é", clientSees, kBinding, sameSid ? sid : newSid(), sid), agrees);
  }

  // A share that is no point, or a small-order one, completes nothing: no
  // confirmation can be made from it.
  void hostileShares_data() {
    QTest::addColumn<QByteArray>("share");
    QTest::newRow("identity") << QByteArray(32, '\0');
    QTest::newRow("not a point") << QByteArray(32, '\xff');
    QTest::newRow("short") << QByteArray(31, '\1');
    QTest::newRow("empty") << QByteArray();
  }
  void hostileShares() {
    QFETCH(QByteArray, share);
    Exchange host("secret", newSid(), kBinding);
    QVERIFY(!host.complete(share, true));
    QVERIFY(host.hostConfirm().isEmpty());
    QVERIFY(!host.confirms(QByteArray(32, '\0'), false));
  }

  void identitySignsItsConnectionOnly() {
    const Identity identity = Identity::generate();
    const QByteArray sid = newSid();
    const QByteArray signature = signBinding(identity, sid, kBinding);
    QVERIFY(verifyBinding(identity.publicKey, sid, kBinding, signature));
    QVERIFY(!verifyBinding(identity.publicKey, newSid(), kBinding, signature));
    QVERIFY(!verifyBinding(identity.publicKey, sid, Binding{"sha-256 EE:FF", kBinding.clientFingerprint}, signature));
    QVERIFY(!verifyBinding(Identity::generate().publicKey, sid, kBinding, signature));
    // Kept as its secret key, it comes back whole; anything else does not.
    const auto kept = Identity::fromSecret(identity.secretKey);
    QVERIFY(kept && kept->publicKey == identity.publicKey);
    QByteArray altered = identity.secretKey;
    altered[40] = char(altered[40] ^ 1);  // the public half no longer matches the seed
    QVERIFY(!Identity::fromSecret(altered));
    QVERIFY(!Identity::fromSecret(identity.secretKey.left(32)));
  }

  void deviceProofHoldsForItsConnectionOnly() {
    const QByteArray digest = deviceDigest(newDeviceKey());
    const QByteArray sid = newSid();
    const QByteArray proof = deviceProof(digest, sid, kBinding);
    QVERIFY(deviceProofHolds(digest, sid, kBinding, proof));
    QVERIFY(!deviceProofHolds(digest, newSid(), kBinding, proof));
    QVERIFY(!deviceProofHolds(deviceDigest(newDeviceKey()), sid, kBinding, proof));
    QCOMPARE(deviceId(digest).size(), kDeviceIdBytes);
  }

  void fingerprints_data() {
    QTest::addColumn<QByteArray>("sdp");
    QTest::addColumn<QByteArray>("fingerprint");
    QTest::newRow("first of several")
        << QByteArray("v=0\r\na=fingerprint:SHA-256 ab:cd:01\r\nm=video\r\na=fingerprint:sha-256 EE:FF\r\n")
        << QByteArray("sha-256 AB:CD:01");
    QTest::newRow("none") << QByteArray("v=0\r\nm=video 9\r\n") << QByteArray();
    QTest::newRow("not at a line's start") << QByteArray("v=0\r\nx=a=fingerprint:sha-256 AB\r\n") << QByteArray();
    QTest::newRow("no digest") << QByteArray("a=fingerprint:sha-256\r\n") << QByteArray();
    QTest::newRow("not hexadecimal") << QByteArray("a=fingerprint:sha-256 AB:ZZ\r\n") << QByteArray();
  }
  void fingerprints() {
    QFETCH(QByteArray, sdp);
    QFETCH(QByteArray, fingerprint);
    QCOMPARE(sdpFingerprint(sdp.toStdString()), fingerprint);
  }

  void shortCodeReadsAloud() {
    const QByteArray hostNonce = newCodeNonce(), clientNonce = newCodeNonce();
    const QString code = shortCode(kBinding, hostNonce, clientNonce);
    QVERIFY2(QRegularExpression("^\\d{3} \\d{3}$").match(code).hasMatch(), qPrintable(code));
    QVERIFY(shortCode(Binding{kBinding.clientFingerprint, kBinding.hostFingerprint}, hostNonce, clientNonce) != code);
    QVERIFY(shortCode(kBinding, clientNonce, hostNonce) != code);
    QVERIFY(shortCode(kBinding, hostNonce, QByteArray()).isEmpty());
    QVERIFY(isFingerprint(kBinding.hostFingerprint));
    for (const char* bad : {"", "sha-256", "sha-256 AB\nCD", " sha-256 AB", "SHA-256 AB", "sha-256 ab", "sha-256\xc3\xa9 AB",
                            "sha?256 AB"}) {
      QVERIFY2(!isFingerprint(bad), bad);
    }
  }

  // Fixed inputs give the bytes the vectors file holds, which the browser
  // client's own implementation is checked against as well.
  void vectors() {
    QFile file(QStringLiteral(LUNOR_PROOF_VECTORS));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray vectors = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY(!vectors.isEmpty());
    auto hex = [](const QJsonObject& o, const char* key) { return QByteArray::fromHex(o.value(key).toString().toLatin1()); };
    auto text = [](const QJsonObject& o, const char* key) { return o.value(key).toString().toUtf8(); };
    for (const QJsonValue& value : vectors) {
      const QJsonObject v = value.toObject();
      const Binding binding{text(v, "hostFingerprint"), text(v, "clientFingerprint")};
      const QByteArray sid = hex(v, "sid");
      Exchange client(text(v, "clientPassword"), sid, binding, hex(v, "clientScalar"));
      Exchange host(text(v, "hostPassword"), sid, binding, hex(v, "hostScalar"));
      QCOMPARE(client.share().toHex(), hex(v, "clientShare").toHex());
      QCOMPARE(host.share().toHex(), hex(v, "hostShare").toHex());
      QVERIFY(client.complete(host.share(), false) && host.complete(client.share(), true));
      QCOMPARE(host.hostConfirm().toHex(), hex(v, "hostConfirm").toHex());
      QCOMPARE(client.clientConfirm().toHex(), hex(v, "clientConfirm").toHex());
      QCOMPARE(client.confirms(host.hostConfirm(), true), v.value("agree").toBool());
      QCOMPARE(codeCommitment(binding.clientFingerprint, hex(v, "clientNonce")).toHex(), hex(v, "commitment").toHex());
      QCOMPARE(shortCode(binding, hex(v, "hostNonce"), hex(v, "clientNonce")), v.value("shortCode").toString());
      // The host's identity from its seed, and its signature (Ed25519 signs alike every time).
      QByteArray publicKey(32, '\0'), secretKey(64, '\0');
      const QByteArray seed = hex(v, "identitySeed");
      crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                               reinterpret_cast<unsigned char*>(secretKey.data()),
                               reinterpret_cast<const unsigned char*>(seed.constData()));
      QCOMPARE(publicKey.toHex(), hex(v, "identityKey").toHex());
      QCOMPARE(signBinding(Identity{publicKey, secretKey}, sid, binding).toHex(), hex(v, "signature").toHex());
      const QByteArray digest = deviceDigest(hex(v, "deviceKey"));
      QCOMPARE(deviceId(digest).toHex(), hex(v, "deviceId").toHex());
      QCOMPARE(deviceProof(digest, sid, binding).toHex(), hex(v, "deviceProof").toHex());
    }
  }

  void messagesReadBackAsSent_data() {
    QTest::addColumn<QByteArray>("text");
    const QByteArray key(32, 'k');
    QTest::newRow("hello") << encode(Hello{newSid(), key, QByteArray(64, 's')});
    QTest::newRow("start") << encode(Start{key, {}, {}});
    QTest::newRow("start with a device") << encode(Start{key, QByteArray(16, 'd'), QByteArray(32, 'p')});
    QTest::newRow("reply") << encode(Reply{key, QByteArray(32, 'c')});
    QTest::newRow("confirm") << encode(Confirm{QByteArray(32, 'c')});
    QTest::newRow("welcome") << encode(Welcome{});
    QTest::newRow("welcome with a key") << encode(Welcome{key});
    QTest::newRow("wait") << encode(Refusal{false, 30000, true});
    QTest::newRow("denied") << encode(Refusal{true, std::nullopt, false});
  }
  void messagesReadBackAsSent() {
    QFETCH(QByteArray, text);
    const auto message = decode(text);
    QVERIFY(message);
    QCOMPARE(encode(*message), text);
  }

  void hostileMessages_data() {
    QTest::addColumn<QByteArray>("text");
    const QByteArray share = QByteArray(32, 'k').toBase64();
    QTest::newRow("not JSON") << QByteArray("{");
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("unknown type") << QByteArray("{\"t\":\"admit\"}");
    QTest::newRow("other version") << QByteArray("{\"t\":\"hello\",\"v\":2}");
    QTest::newRow("short share") << QByteArray("{\"t\":\"start\",\"share\":\"AAAA\"}");
    QTest::newRow("share not base64") << QByteArray("{\"t\":\"start\",\"share\":\"!!!!\"}");
    QTest::newRow("share a number") << QByteArray("{\"t\":\"start\",\"share\":12}");
    QTest::newRow("device without its proof")
        << "{\"t\":\"start\",\"device\":\"AAAAAAAAAAAAAAAAAAAAAA==\",\"share\":\"" + share + "\"}";
    QTest::newRow("negative wait") << QByteArray("{\"t\":\"wait\",\"retryAfterMs\":-1}");
    QTest::newRow("fractional wait") << QByteArray("{\"t\":\"denied\",\"retryAfterMs\":1.5}");
    QTest::newRow("wait past a day") << QByteArray("{\"t\":\"wait\",\"retryAfterMs\":1e12}");
    QTest::newRow("too long") << "{\"t\":\"welcome\",\"x\":\"" + QByteArray(2000, 'x') + "\"}";
  }
  void hostileMessages() {
    QFETCH(QByteArray, text);
    QVERIFY(!decode(text));
  }
};

QTEST_GUILESS_MAIN(PasswordProofTest)
#include "password_proof_test.moc"
