// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/terminal_panels.h"

#include <unistd.h>

#include "client/session_words.h"
#include "protocol/signaling_messages.h"

namespace lunor {

TerminalPanels::TerminalPanels(int input, int output, int answerTimeoutMs, QObject* parent)
    : QObject(parent), output_(output), notifier_(input, QSocketNotifier::Read) {
  notifier_.setEnabled(false);
  connect(&notifier_, &QSocketNotifier::activated, this, &TerminalPanels::readAnswer);
  timeout_.setSingleShot(true);
  timeout_.setInterval(answerTimeoutMs);
  connect(&timeout_, &QTimer::timeout, this, [this] {
    if (!asking_) return;
    write(QStringLiteral("\nNo answer: refused.\n"));
    answer(false);
  });
}

void TerminalPanels::write(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  [[maybe_unused]] const ssize_t written = ::write(output_, bytes.constData(), size_t(bytes.size()));
}

void TerminalPanels::showJoinRequest(const JoinRequestPrompt& prompt) {
  // The name is the requester's own choice: nothing in it may reach the
  // terminal as a control sequence.
  const QString who = prompt.requester.isNull() ? QStringLiteral("A client with no name")
                                                : peerText(prompt.requester, kMaxPeerNameChars);
  if (!prompt.accept) {
    // Unattended access: the password decides; the user may only watch.
    write(who + QStringLiteral(" is joining with the unattended password.\n"));
    return;
  }
  const bool again = asking_;
  const bool newCode = !prompt.code.isEmpty() && (!again || prompt.code != pending_.code);
  pending_ = prompt;
  const QString code = newCode ? QStringLiteral("Verification code: %1 (the person connecting sees the same; "
                                                "refuse if it differs).\n").arg(prompt.code)
                               : QString();
  if (again) {
    // The same question is still on screen; the code may have come since.
    if (newCode) write(QStringLiteral("\n") + code + QStringLiteral("allow? [y/N] "));
    return;
  }
  asking_ = true;
  typed_.clear();
  write(code + who + QStringLiteral(" wants to connect: allow? [y/N] "));
  notifier_.setEnabled(true);
  timeout_.start();
}

void TerminalPanels::showFileOffer(const FileOfferPrompt& prompt) {
  write(QStringLiteral("A file was offered (%1, %2): declined, files are not asked here.\n")
            .arg(peerText(prompt.name, kMaxPeerNameChars), prompt.size));
  if (prompt.decline) prompt.decline();
}

void TerminalPanels::readAnswer() {
  char buffer[256];
  const ssize_t count = ::read(static_cast<int>(notifier_.socket()), buffer, sizeof buffer);
  if (count <= 0) {
    // The terminal went away: nobody can answer.
    notifier_.setEnabled(false);
    if (asking_) answer(false);
    return;
  }
  typed_.append(buffer, count);
  const qsizetype end = typed_.indexOf('\n');
  if (!asking_ || end < 0) return;
  const QString reply = QString::fromLocal8Bit(typed_.left(end)).trimmed().toLower();
  typed_.clear();
  answer(reply == QLatin1String("y") || reply == QLatin1String("yes") || reply == QLatin1String("o") ||
         reply == QLatin1String("oui"));
}

void TerminalPanels::answer(bool allow) {
  asking_ = false;
  notifier_.setEnabled(false);
  timeout_.stop();
  const JoinRequestPrompt prompt = std::exchange(pending_, {});
  if (allow && prompt.accept) {
    prompt.accept();
  } else if (prompt.reject) {
    prompt.reject();
  }
}

void TerminalPanels::dismissJoinRequest() {
  if (!asking_) return;
  asking_ = false;
  notifier_.setEnabled(false);
  timeout_.stop();
  pending_ = {};
  write(QStringLiteral("\n(the request is no longer waiting)\n"));
}

void TerminalPanels::showFloatingHud(const HudInfo& info) {
  const QString name = peerText(info.name, kMaxPeerNameChars);
  write(QStringLiteral("Session with %1 started. Ctrl-C ends it and stops sharing.\n")
            .arg(name.isEmpty() ? QStringLiteral("a client") : name));
}

void TerminalPanels::hideFloatingHud() {}

void TerminalPanels::showEndSession(EndCause cause, const QString& reason, const QString& durationText, int) {
  const QString words = endReasonText(cause, reason, Role::Host);
  write(QStringLiteral("Session ended (%1): %2\n").arg(durationText, peerText(words, kMaxPeerReasonChars)));
}

}  // namespace lunor
