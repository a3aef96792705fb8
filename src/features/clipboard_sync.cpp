// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/clipboard_sync.h"

#include <QList>

#include "system/clipboard.h"

namespace lunor {
namespace {

// Digests of the last contents received from any peer, process-wide: a
// content seen here again (ours, as our clipboard gives it back) is not
// sent on. Main thread.
QList<QByteArray>& fromPeers() {
  static QList<QByteArray> digests;
  return digests;
}
constexpr int kRemembered = 16;

void rememberFromPeer(const QByteArray& digest) {
  auto& digests = fromPeers();
  digests.removeAll(digest);
  digests.prepend(digest);
  while (digests.size() > kRemembered) digests.removeLast();
}

QString describe(const ClipboardContent& content) {
  if (!content.png.isEmpty()) return QStringLiteral("image de %1 Kio").arg((content.png.size() + 1023) / 1024);
  return QStringLiteral("%1 caractère(s)%2").arg(content.text.size()).arg(content.html.isEmpty() ? QString() : QStringLiteral(" avec HTML"));
}

}  // namespace

ClipboardSync::ClipboardSync(Clipboard& clipboard, Log log, QObject* parent)
    : QObject(parent), clipboard_(clipboard), log_(std::move(log)) {
  connect(&clipboard_, &Clipboard::changed, this, &ClipboardSync::localChanged);
}

void ClipboardSync::start(const PeerFeatures& limits, Send send) {
  limits_ = limits;
  send_ = std::move(send);
  assembler_.emplace(limits);
  const QString limitation = clipboard_.limitation();
  log_(QStringLiteral("📋 Presse-papiers partagé") + (limitation.isEmpty() ? QString() : QStringLiteral(" (") + limitation + QLatin1Char(')')));
  // What was copied before the session (a password, perhaps) stays here:
  // only what is copied from now on goes.
  Q_EMIT started();
}

void ClipboardSync::stop() {
  assembler_.reset();
  send_ = nullptr;
}

void ClipboardSync::setSending(bool on) {
  if (sending_ == on) return;
  sending_ = on;
  Q_EMIT switchesChanged();
}

void ClipboardSync::setReceiving(bool on) {
  if (receiving_ == on) return;
  receiving_ = on;
  Q_EMIT switchesChanged();
}

void ClipboardSync::localChanged() {
  if (!running() || !sending_ || !send_) return;
  // A picture too large is refused by its size, before it is encoded.
  if (const auto size = clipboard_.imageSize()) {
    if (const auto refusal = imageRefusal(*size, 0, limits_)) {
      log_(QStringLiteral("📋 Presse-papiers non envoyé : ") + *refusal);
      return;
    }
  }
  const ClipboardContent content = clipboard_.read();
  if (content.empty() || fromPeers().contains(content.digest())) return;
  if (const auto refusal = clipboardRefusal(content, limits_)) {
    log_(QStringLiteral("📋 Presse-papiers non envoyé : ") + *refusal);
    return;
  }
  send_(encodeClipboard(content, nextId_++));
  log_(QStringLiteral("📋 Presse-papiers envoyé (") + describe(content) + QLatin1Char(')'));
}

void ClipboardSync::receive(const QByteArray& data, bool binary) {
  if (!running()) return;
  const auto result = assembler_->take(data, binary);
  switch (result.outcome) {
    case ClipboardAssembler::Outcome::Pending:
      return;
    case ClipboardAssembler::Outcome::Refused:
      log_(QStringLiteral("📋 Presse-papiers reçu ignoré : ") + result.reason);
      return;
    case ClipboardAssembler::Outcome::Complete:
      break;
  }
  if (!receiving_) return;
  // Remembered before and after: as sent, and as our clipboard gives it back.
  rememberFromPeer(result.content.digest());
  const ClipboardContent stored = clipboard_.write(result.content);
  rememberFromPeer(stored.digest());
  log_(QStringLiteral("📋 Presse-papiers reçu (") + describe(result.content) + QLatin1Char(')'));
  Q_EMIT received(result.content);
}

}  // namespace lunor
