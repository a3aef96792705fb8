// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The web client's files, served on the signaling server's port beside its
// WebSocket. Plain HTTP/1.1, one request per connection: GET and HEAD of
// regular files under one folder, "/" being its index.html; never a listing,
// never a file outside it (no "..", no hidden names, no link out of it).
// Every answer carries the security headers: a Content-Security-Policy that
// allows only the server's own scripts, styles and connections, no framing,
// no sniffing, no referrer, and HSTS over TLS. Files are revalidated on each
// load (an ETag of their content), so a new version shows at once.

#include <optional>

#include <QByteArray>
#include <QHash>
#include <QString>

namespace lunor::signal {

// A request's head as far as the server needs it.
struct HttpHead {
  QByteArray method;
  QByteArray target;       // as sent: path and query
  QByteArray ifNoneMatch;  // the header's value, if any
  bool upgrade = false;    // asks for a WebSocket
};

// The head at the start of `buffered`, once its blank line arrived; nothing
// while it is incomplete. `malformed` is set for a head that is not HTTP.
std::optional<HttpHead> parseHttpHead(const QByteArray& buffered, bool* malformed);

class WebFiles {
 public:
  static constexpr qint64 kMaxFileBytes = 16 << 20;
  static constexpr int kMaxHeadBytes = 8192;

  // root: the folder served; its files are read when asked for.
  explicit WebFiles(QString root);

  bool isServing() const { return !root_.isEmpty(); }
  // The whole answer to a request (status line, headers, body).
  QByteArray respond(const HttpHead& head, bool tls) const;
  // An answer with no file: 400, 404, 405, 431.
  static QByteArray error(int status, bool tls);

  static QByteArray contentSecurityPolicy();

 private:
  QString root_;  // canonical, or empty when the folder is missing
};

}  // namespace lunor::signal
