// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's panels on a terminal, for a headless host a person runs: a join
// request is asked on the terminal ("Alice wants to connect: allow? [y/N]"),
// and the session's start and end are told there. No answer within 30 s is
// a refusal. Main thread.

#include <memory>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "session/session_panels.h"

namespace lunor {

class TerminalPanels final : public QObject, public SessionPanels {
  Q_OBJECT

 public:
  static constexpr int kAnswerTimeoutMs = 30'000;

  // input and output: the terminal's file descriptors; after
  // answerTimeoutMs without an answer the request is refused.
  explicit TerminalPanels(int input = 0, int output = 1, int answerTimeoutMs = kAnswerTimeoutMs,
                          QObject* parent = nullptr);

  void showJoinRequest(const JoinRequestPrompt& prompt) override;
  void dismissJoinRequest() override;
  void showFloatingHud(const HudInfo& info) override;
  void hideFloatingHud() override;
  void showEndSession(EndCause cause, const QString& reason, const QString& durationText,
                      int countdownSeconds) override;
  // Files are not asked on the terminal: declined, and said there.
  void showFileOffer(const FileOfferPrompt& prompt) override;
  void dismissFileOffer() override {}
  void showTransfers(const QVariantList&) override {}

 private:
  void readAnswer();
  void answer(bool allow);
  void write(const QString& text);

  int output_;
  QSocketNotifier notifier_;
  QTimer timeout_;
  JoinRequestPrompt pending_;
  bool asking_ = false;
  QByteArray typed_;
};

}  // namespace lunor
