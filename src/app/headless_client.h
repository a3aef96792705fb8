// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor-remote --headless-client: joins a host without a window, receives
// its picture, prints one line of figures a second and a summary, and can
// save the last picture, replay control messages and write the figures as
// JSON. Its exit code says how the session went (exit_code::*).

#include <memory>
#include <mutex>
#include <vector>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QObject>
#include <QTimer>

#include "app/command_line.h"
#include "client/i420_image.h"
#include "rtc/peer_connection.h"

namespace lunor {

class FeatureExchange;

class ClientSession;
class SessionEnvironment;

class HeadlessClient final : public QObject, private rtc::VideoSink {
  Q_OBJECT

 public:
  // environment is borrowed and must outlive the client.
  HeadlessClient(SessionEnvironment& environment, LaunchOptions options, QObject* parent = nullptr);
  ~HeadlessClient() override;

  // Starts the session; finished() follows with the exit code.
  void start();
  // Ends the session as the local user would (a termination signal).
  void stop();

 Q_SIGNALS:
  void finished(int exitCode);

 private:
  // Files and the clipboard of the session.
  FeatureExchange& exchange();
  void onFrame(const rtc::I420FrameView& frame) override;  // library thread
  void passwordAsked();
  void connected();
  void tick();
  void sessionEnded();
  void replayNext();
  void finish(int code, const QString& why);
  void featuresAgreed();
  void transfersMoved();
  bool saveLastFrame();

  SessionEnvironment& environment_;
  LaunchOptions options_;
  std::unique_ptr<ClientSession> session_;
  std::shared_ptr<rtc::VideoTrack> track_;
  QString password_;
  bool passwordSent_ = false;
  bool stopping_ = false;
  bool finished_ = false;
  QElapsedTimer clock_;  // since start()
  qint64 firstFrameMs_ = -1;   // once the tick has seen it
  qint64 firstFrameAtMs_ = -1;  // under mutex_: when the first frame came
  QTimer ticker_;
  QTimer endTimer_;
  QTimer settle_;  // the end reason settles

  // Frames, counted and kept on the library's thread.
  std::mutex mutex_;
  uint64_t frames_ = 0;
  int width_ = 0;
  int height_ = 0;
  PackedI420 last_;  // the newest picture

  // Figures.
  uint64_t framesAtTick_ = 0;
  uint64_t bytesAtTick_ = 0;
  double decodeAtTick_ = 0;
  uint32_t decodedAtTick_ = 0;
  QJsonArray samples_;

  std::vector<QJsonObject> replay_;
  bool filesOffered_ = false;
  bool fileFailed_ = false;
  QElapsedTimer filePrinted_;
  size_t replayed_ = 0;
};

}  // namespace lunor
