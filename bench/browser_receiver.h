// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Headless Chromium as the receiver: a page of ours joins as a plain WebRTC
// client and reads the stamp in requestVideoFrameCallback; we drive it and
// read its figures through the DevTools protocol.

#include <QJsonObject>
#include <QUrl>

#include "headless_chromium.h"
#include "receiver.h"

namespace lunor::bench {

class BrowserReceiver final : public Receiver {
 public:
  BrowserReceiver(QUrl signaling, const Stamp& stamp);
  ~BrowserReceiver() override;

  std::optional<double> join(const QString& room, const QString& password,
                             QualityProfile profile) override;
  void beginWindow() override;
  ReceiverWindow endWindow() override;
  void leave() override;
  void setTurnRelay(const QString& turnUrl) override { turnUrl_ = turnUrl; }
  QString name() const override { return QStringLiteral("browser (Chromium)"); }
  QString error() const override { return error_; }
  // The page sends the key's message on the host's "control" channel, as
  // our client would; false while that channel is not open.
  bool sendKey(uint16_t macKeyCode, bool down) override;

 private:
  // A page expression's value (promises awaited); error_ says why not.
  std::optional<QJsonValue> evaluate(const QString& expression);
  // Reads the offset to add to a page time in ms (×1000) to get
  // monotonicUs() into pageOffsetUs_; false (error_ says) when it cannot.
  bool measurePageClock();

  QUrl signaling_;
  const Stamp& stamp_;
  QString turnUrl_;  // empty: no servers
  test::HeadlessChromium chromium_;
  bool joined_ = false;
  QString error_;

  QJsonObject statsAtStart_;
  double cpuAtStart_ = 0;
  int64_t windowStartUs_ = 0;
  std::vector<double> keyHandOverMs_;  // in the current window
  int64_t pageOffsetUs_ = 0;
};

}  // namespace lunor::bench
