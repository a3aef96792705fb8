// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A signaling server that lies: it introduces one host and one client, relays
// their signals and, as asked, admits without a password, swaps the host's
// certificate in the offer, or asks for the password's digest.

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QUrl>
#include <QWebSocketServer>

class QWebSocket;

namespace lunor::test {

class HostileServer final : public QObject {
  Q_OBJECT
 public:
  enum class Lie {
    None,                  // relays as our server would, for a proving client
    AdmitWithoutPassword,  // "peer-joined" unattended for a client that sent nothing
    AdmitAsProving,        // the same, as if the client had come to prove one
    SwapFingerprint,       // the host's certificate replaced in the offer
    SwapFingerprintAttended,  // the same, for a client a person at the host lets in
    OwnCodeAttended,       // its own certificate named to that client as the host's
    AskForDigest,          // "require-unattended" without saying the host checks it
  };
  explicit HostileServer(Lie lie);
  ~HostileServer() override;
  QUrl url() const;
  // Every message the client sent, in order.
  const QList<QJsonObject>& fromClient() const { return fromClient_; }

 private:
  void received(QWebSocket* socket, const QJsonObject& message);
  static void send(QWebSocket* socket, const QJsonObject& message);

  const Lie lie_;
  QWebSocketServer server_;
  QList<QWebSocket*> sockets_;
  QWebSocket* host_ = nullptr;
  QWebSocket* client_ = nullptr;
  QList<QJsonObject> fromClient_;
};

}  // namespace lunor::test
