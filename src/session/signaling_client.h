// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One session's WebSocket to the signaling server. Messages are JSON objects,
// one text frame each. Messages sent before the socket opens wait and go out
// in order as soon as it opens; a ping every 20 s keeps the link alive, and
// a link whose pongs stop (two pings unanswered) is taken for lost.
//
// All state lives on the thread that owns the object (the main thread).
// connect(), send() and disconnect() may be called from that thread and run
// asynchronously, in call order. Callbacks are delivered on the owning thread,
// messages in arrival order and before any close.

#include <functional>

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "session/service_config.h"

class QWebSocket;

namespace lunor {

class SignalingClient final : public QObject {
  Q_OBJECT
 public:
  // Frames larger than this are refused by the socket (hostile server guard).
  static constexpr qint64 kMaxIncomingMessageBytes = 1024 * 1024;
  static constexpr int kPingIntervalMs = 20'000;
  // Pings in a row without a pong before the link is taken for lost.
  static constexpr int kMissedPongsBeforeLost = 2;
  // How long a socket that has just sent stays open before it closes, so
  // the server reads those frames before the connection ends.
  static constexpr int kLingerMs = 300;
  // How long its close may then take.
  static constexpr int kCloseGraceMs = 3'000;

  explicit SignalingClient(SignalingEndpoint endpoint, QObject* parent = nullptr);
  ~SignalingClient() override;
  SignalingClient(const SignalingClient&) = delete;
  SignalingClient& operator=(const SignalingClient&) = delete;

  // Set by the owner after creation; cleared (to empty) before disconnect()
  // when the owner no longer wants to hear from the client.
  std::function<void()> onOpen;
  std::function<void(const QJsonObject&)> onMessage;
  std::function<void()> onClose;

  // Opens the socket unless one exists.
  void connect();
  // Sends now when open, queues while connecting, drops with a log otherwise.
  void send(const QJsonObject& message);
  // Closes the socket with code 1001 (going away) and reports onClose.
  void disconnect();

  const QUrl& serverUrl() const { return endpoint_.url; }

 private:
  void openSocket();
  void sendNow(const QJsonObject& message);
  void dropSocketAndReport(const QString& line);
  // Lets go of the socket (closed as going away, or aborted after a
  // failure), then reports the close.
  void dropSocket(bool abort);
  // Closes as going away once the server has had time to read what was
  // last sent; the socket outlives this client for that.
  static void retire(QWebSocket* socket, qint64 msSinceLastSend);
  // -1 when nothing was sent.
  qint64 msSinceLastSend() const;
  void handleOpened();
  void handleText(const QString& text);
  void handleBinary(const QByteArray& bytes);
  void transmit(const QJsonObject& message);
  void deliver(std::function<void()> call);

  SignalingEndpoint endpoint_;
  QWebSocket* socket_ = nullptr;  // owned; present from connect() until close or failure
  bool isOpen_ = false;
  QList<QJsonObject> pendingQueue_;
  QTimer pingTimer_;
  int unansweredPings_ = 0;
  QElapsedTimer lastSend_;
};

}  // namespace lunor
