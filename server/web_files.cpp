// SPDX-License-Identifier: GPL-3.0-or-later
#include "web_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace lunor::signal {
namespace {

QByteArray reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
  }
}

QByteArray contentType(const QString& path) {
  static const QHash<QString, QByteArray> types{
      {"html", "text/html; charset=utf-8"},       {"js", "text/javascript; charset=utf-8"},
      {"mjs", "text/javascript; charset=utf-8"},  {"css", "text/css; charset=utf-8"},
      {"json", "application/json"},               {"svg", "image/svg+xml"},
      {"png", "image/png"},                       {"ico", "image/x-icon"},
      {"webmanifest", "application/manifest+json"}, {"txt", "text/plain; charset=utf-8"},
      {"woff2", "font/woff2"}};
  return types.value(QFileInfo(path).suffix().toLower(), "application/octet-stream");
}

QByteArray headers(int status, bool tls) {
  QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
  out += "Content-Security-Policy: " + WebFiles::contentSecurityPolicy() + "\r\n";
  out += "X-Content-Type-Options: nosniff\r\n";
  out += "X-Frame-Options: DENY\r\n";
  out += "Referrer-Policy: no-referrer\r\n";
  out += "Cross-Origin-Opener-Policy: same-origin\r\n";
  out += "Permissions-Policy: camera=(), microphone=(), geolocation=()\r\n";
  if (tls) out += "Strict-Transport-Security: max-age=31536000\r\n";
  out += "Connection: close\r\n";
  return out;
}

// The path asked for, decoded, as a relative path inside the root; nothing
// for one that reaches out of it or names something hidden.
std::optional<QString> relativePath(const QByteArray& target) {
  QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
  if (const int hash = path.indexOf('#'); hash >= 0) path.truncate(hash);
  if (!path.startsWith('/')) return std::nullopt;
  const QString decoded = QUrl::fromPercentEncoding(path);
  if (decoded.contains(QChar(0)) || decoded.contains('\\')) return std::nullopt;
  QStringList parts;
  for (const QString& part : decoded.split('/', Qt::SkipEmptyParts)) {
    if (part.startsWith('.')) return std::nullopt;  // "..", ".git", ".env"
    parts << part;
  }
  if (decoded.endsWith('/')) parts << QStringLiteral("index.html");
  if (parts.isEmpty()) parts << QStringLiteral("index.html");
  return parts.join('/');
}

}  // namespace

std::optional<HttpHead> parseHttpHead(const QByteArray& buffered, bool* malformed) {
  *malformed = false;
  const int end = buffered.indexOf("\r\n\r\n");
  if (end < 0) return std::nullopt;
  const QList<QByteArray> lines = buffered.left(end).split('\n');
  const QList<QByteArray> request = lines.front().trimmed().split(' ');
  if (request.size() != 3 || !request[2].startsWith("HTTP/1.")) {
    *malformed = true;
    return std::nullopt;
  }
  HttpHead head{request[0], request[1], {}, false};
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    const int colon = line.indexOf(':');
    if (colon <= 0) continue;
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "upgrade" && value.toLower() == "websocket") head.upgrade = true;
    if (name == "if-none-match") head.ifNoneMatch = value;
  }
  return head;
}

WebFiles::WebFiles(QString root) {
  const QFileInfo info(root);
  if (!root.isEmpty() && info.isDir()) root_ = info.canonicalFilePath();
}

QByteArray WebFiles::contentSecurityPolicy() {
  return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
         "media-src 'self' blob:; connect-src 'self'; font-src 'self'; manifest-src 'self'; "
         "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

QByteArray WebFiles::error(int status, bool tls) {
  const QByteArray body = QByteArray::number(status) + ' ' + reason(status) + '\n';
  QByteArray out = headers(status, tls);
  if (status == 405) out += "Allow: GET, HEAD\r\n";
  out += "Content-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\n";
  out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
  return out;
}

QByteArray WebFiles::respond(const HttpHead& head, bool tls) const {
  if (head.method != "GET" && head.method != "HEAD") return error(405, tls);
  const auto relative = relativePath(head.target);
  if (root_.isEmpty() || !relative) return error(404, tls);
  const QFileInfo info(QDir(root_).filePath(*relative));
  // Its real place, links followed: it must still be inside the root.
  const QString real = info.canonicalFilePath();
  if (!info.isFile() || !real.startsWith(root_ + '/') || info.size() > kMaxFileBytes) return error(404, tls);
  QFile file(real);
  if (!file.open(QIODevice::ReadOnly)) return error(404, tls);
  const QByteArray body = file.readAll();
  const QByteArray etag =
      '"' + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex().left(32) + '"';
  const bool unchanged = !head.ifNoneMatch.isEmpty() && head.ifNoneMatch == etag;
  QByteArray out = headers(unchanged ? 304 : 200, tls);
  out += "Content-Type: " + contentType(real) + "\r\n";
  out += "Cache-Control: no-cache\r\n";
  out += "ETag: " + etag + "\r\n";
  if (unchanged) return out + "\r\n";
  out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
  if (head.method == "GET") out += body;
  return out;
}

}  // namespace lunor::signal
