// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A WebSocket client written by hand over a QTcpSocket, for what QWebSocket
// will not do: connect from a chosen local address, add handshake headers,
// stay silent to pings, stop reading, or never finish the handshake.

#include <tuple>

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>

#include "inbox.h"

namespace lunor::test {

class RawWsClient : public QObject, public Inbox {
 public:
  // Opens the TCP connection from `local` (any 127.x.y.z works on Linux).
  RawWsClient(quint16 port, const QString& local = QStringLiteral("127.0.0.1")) {
    socket.bind(QHostAddress(local), 0);
    connect(&socket, &QTcpSocket::readyRead, this, [this] { readAvailable(); });
    connect(&socket, &QTcpSocket::disconnected, this, [this] { closed = true; });
    socket.connectToHost(QHostAddress::LocalHost, port);
    std::ignore = QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState || closed; }, 5000);
  }

  bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState && !closed; }

  // The HTTP upgrade; true once the server switched protocols.
  bool handshake(const QByteArray& extraHeaders = {}, int timeoutMs = 5000) {
    const QByteArray key = QByteArray::number(QRandomGenerator::global()->generate64()).toBase64();
    socket.write("GET /signal HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " + key + "\r\n" + extraHeaders + "\r\n");
    socket.flush();
    upgrading = true;
    return QTest::qWaitFor([this] { return upgraded || closed; }, timeoutMs) && upgraded;
  }

  void sendText(const QByteArray& text) { sendFrame(0x1, text); }
  void sendBinary(const QByteArray& bytes) { sendFrame(0x2, bytes); }
  void send(const QJsonObject& object) { sendText(QJsonDocument(object).toJson(QJsonDocument::Compact)); }
  // The server-assigned ID, from "hello".
  QString id() {
    if (clientId.isEmpty()) clientId = take("hello").value("clientId").toString();
    return clientId;
  }

  // Stops taking bytes from the kernel: what the server sends piles up.
  void stopReading() {
    socket.setReadBufferSize(1);
    reading = false;
  }
  bool waitClosed(int timeoutMs) { return QTest::qWaitFor([this] { return closed; }, timeoutMs); }

  QTcpSocket socket;
  bool answerPings = true;
  bool upgrading = false;
  bool upgraded = false;
  bool closed = false;
  int closeCode = -1;  // the server's, from its close frame
  bool reading = true;
  int pings = 0;
  QString clientId;

 private:
  void sendFrame(int opcode, const QByteArray& payload) {
    QByteArray frame;
    frame.append(char(0x80 | opcode));
    const qint64 n = payload.size();
    if (n < 126) {
      frame.append(char(0x80 | n));
    } else if (n < 65536) {
      frame.append(char(0x80 | 126));
      frame.append(char((n >> 8) & 0xFF));
      frame.append(char(n & 0xFF));
    } else {
      frame.append(char(0x80 | 127));
      for (int shift = 56; shift >= 0; shift -= 8) frame.append(char((n >> shift) & 0xFF));
    }
    const quint32 mask = QRandomGenerator::global()->generate();
    const char key[4] = {char(mask >> 24), char(mask >> 16), char(mask >> 8), char(mask)};
    frame.append(key, 4);
    for (qint64 i = 0; i < n; ++i) frame.append(char(payload[i] ^ key[i % 4]));
    socket.write(frame);
    socket.flush();
  }

  void readAvailable() {
    if (!reading) return;
    buffer += socket.readAll();
    if (upgrading && !upgraded) {
      const int end = buffer.indexOf("\r\n\r\n");
      if (end < 0) return;
      upgraded = buffer.startsWith("HTTP/1.1 101");
      buffer.remove(0, end + 4);
    }
    for (;;) {
      if (buffer.size() < 2) return;
      const int opcode = buffer[0] & 0x0F;
      qint64 n = buffer[1] & 0x7F;
      int header = 2;
      if (n == 126) {
        if (buffer.size() < 4) return;
        n = (quint8(buffer[2]) << 8) | quint8(buffer[3]);
        header = 4;
      } else if (n == 127) {
        if (buffer.size() < 10) return;
        n = 0;
        for (int i = 0; i < 8; ++i) n = (n << 8) | quint8(buffer[2 + i]);
        header = 10;
      }
      if (buffer.size() < header + n) return;
      const QByteArray payload = buffer.mid(header, n);
      buffer.remove(0, header + n);
      if (opcode == 0x1) {
        received << QJsonDocument::fromJson(payload).object();
      } else if (opcode == 0x9) {
        ++pings;
        if (answerPings) sendFrame(0xA, payload);
      } else if (opcode == 0x8) {
        if (payload.size() >= 2) closeCode = (quint8(payload[0]) << 8) | quint8(payload[1]);
        closed = true;
      }
    }
  }

  QByteArray buffer;
};

}  // namespace lunor::test
