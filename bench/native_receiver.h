// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Our own client session in this process, over the real WebRTC library.

#include <memory>
#include <mutex>

#include <QUrl>

#include "receiver.h"
#include "rtc/peer_connection.h"

namespace lunor {
class ClientSession;
namespace test {
class FakeEnvironment;
}
}  // namespace lunor

namespace lunor::bench {

class NativeReceiver final : public Receiver, private rtc::VideoSink {
 public:
  NativeReceiver(QUrl signaling, const Stamp& stamp);
  ~NativeReceiver() override;

  std::optional<double> join(const QString& room, const QString& password,
                             QualityProfile profile) override;
  void beginWindow() override;
  ReceiverWindow endWindow() override;
  void leave() override;
  void setTurnRelay(const QString& turnUrl) override { turnUrl_ = turnUrl; }
  QString name() const override { return QStringLiteral("native"); }
  QString error() const override { return error_; }
  bool sendKey(uint16_t macKeyCode, bool down) override;
  bool sendFile(const QString& path) override;
  FileState fileState() const override;
  bool keepPictures(bool on) override;
  std::vector<KeptPicture> takeKeptPictures() override;

 private:
  void onFrame(const rtc::I420FrameView& frame) override;  // library thread
  std::optional<rtc::VideoReceiveStats> receiveStats();
  double ownCpu() const;

  QUrl signaling_;
  const Stamp& stamp_;
  QString turnUrl_;  // empty: host candidates only
  std::unique_ptr<test::FakeEnvironment> environment_;
  std::unique_ptr<ClientSession> session_;
  std::shared_ptr<rtc::VideoTrack> track_;
  QString error_;

  std::mutex mutex_;
  int64_t firstFrameUs_ = 0;
  bool measuring_ = false;
  uint32_t lastStamp_ = 0;
  ReceiverWindow window_;
  bool keeping_ = false;
  std::vector<KeptPicture> kept_;

  // At the window's start.
  int64_t windowStartUs_ = 0;
  double cpuAtStart_ = 0;
  rtc::VideoReceiveStats statsAtStart_;
};

}  // namespace lunor::bench
