// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/headless_client.h"

#include <cstdio>
#include <cstring>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/app_log.h"
#include "client/i420_image.h"
#include "features/clipboard_sync.h"
#include "features/feature_exchange.h"
#include "features/session_features.h"
#include "protocol/peer_features.h"
#include "client/client_session.h"
#include "session/session_environment.h"
#include "store/user_profile_store.h"
#include "system/clipboard.h"
#include "system/console_log.h"

namespace lunor {
namespace {

// What --clipboard-print asks for: the command's output rather than a line of
// the log, which no logging rule hides.
void printOutput(const QString& line) {
  const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  std::fflush(stdout);
}

// The exit code of an end the local side did not ask for.
int codeFor(EndCause cause) {
  switch (cause) {
    case EndCause::Rejected:
    case EndCause::HostBusy: return exit_code::kRefused;
    case EndCause::HostNotFound: return exit_code::kHostNotFound;
    case EndCause::PeerLost:
    case EndCause::PeerLeft: return exit_code::kConnectionLost;
    case EndCause::NoConnection: return exit_code::kNoConnection;
    case EndCause::ServerUnreachable: return exit_code::kServerUnreachable;
    case EndCause::NoAnswer: return exit_code::kNoAnswer;
    case EndCause::HostIdentityChanged:
    case EndCause::HostNotVerified:
    case EndCause::NotTheCodedPeer: return exit_code::kHostIdentity;
    case EndCause::NotEnded:
    case EndCause::LocalStop:
    case EndCause::PeerEnded: break;  // the host ended it
  }
  return exit_code::kOk;
}

}  // namespace

FeatureExchange& HeadlessClient::exchange() { return SessionFeatures::of(session_->features()).exchange(); }

HeadlessClient::HeadlessClient(SessionEnvironment& environment, LaunchOptions options, QObject* parent)
    : QObject(parent), environment_(environment), options_(std::move(options)) {
  ticker_.setInterval(1000);
  connect(&ticker_, &QTimer::timeout, this, &HeadlessClient::tick);
  endTimer_.setSingleShot(true);
  connect(&endTimer_, &QTimer::timeout, this, &HeadlessClient::stop);
  settle_.setSingleShot(true);
  settle_.setInterval(100);
  connect(&settle_, &QTimer::timeout, this, &HeadlessClient::sessionEnded);
}

HeadlessClient::~HeadlessClient() {
  if (track_) track_->removeSink(this);
}

void HeadlessClient::start() {
  if (!options_.passwordFile.isEmpty()) {
    QFile file(options_.passwordFile);
    if (!file.open(QIODevice::ReadOnly)) {
      finish(exit_code::kFailure, QStringLiteral("cannot read ") + options_.passwordFile);
      return;
    }
    password_ = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
  }
  if (!options_.replay.isEmpty()) {
    QFile file(options_.replay);
    if (!file.open(QIODevice::ReadOnly)) {
      finish(exit_code::kFailure, QStringLiteral("cannot read ") + options_.replay);
      return;
    }
    int line = 0;
    while (!file.atEnd()) {
      ++line;
      const QByteArray text = file.readLine().trimmed();
      if (text.isEmpty()) continue;
      const QJsonDocument document = QJsonDocument::fromJson(text);
      if (!document.isObject()) {
        finish(exit_code::kFailure, QStringLiteral("%1:%2: not a JSON object").arg(options_.replay).arg(line));
        return;
      }
      replay_.push_back(document.object());
    }
  }

  session_ = std::make_unique<ClientSession>(environment_);
  ClientSession& s = *session_;
  // Copied once the clipboard is shared: what it held before stays here.
  if (options_.clipboardSet) {
    connect(&exchange().clipboard(), &ClipboardSync::started, this,
            [this] { environment_.clipboard().write({*options_.clipboardSet, {}, {}}); });
  }
  if (!options_.receiveDir.isEmpty()) exchange().setReceiveFolder(options_.receiveDir);
  connect(&exchange(), &FeatureExchange::commonChanged, this, &HeadlessClient::featuresAgreed);
  connect(&exchange(), &FeatureExchange::transfersChanged, this, &HeadlessClient::transfersMoved);
  if (options_.clipboardPrint) {
    connect(&exchange().clipboard(), &ClipboardSync::received, this, [](const ClipboardContent& content) {
      if (!content.png.isEmpty()) {
        const auto size = pngSize(content.png);
        printOutput(QStringLiteral("📋 image %1x%2").arg(size ? size->width() : 0).arg(size ? size->height() : 0));
      } else {
        printOutput(QStringLiteral("📋 ") + content.text);
      }
    });
  }
  connect(&s, &ClientSession::askUnattendedPasswordChanged, this, &HeadlessClient::passwordAsked);
  connect(&s, &ClientSession::passwordNoticeChanged, this, [this] {
    // Too many wrong passwords: nothing to do here until then.
    const QDateTime retryAt = session_->passwordRetryAt();
    if (!retryAt.isValid()) return;
    finish(exit_code::kPasswordWrong,
           QStringLiteral("the host's server takes no password before %1 (too many wrong ones)")
               .arg(retryAt.toString(Qt::ISODate)));
  });
  connect(&s, &ClientSession::connectionStateChanged, this, [this] {
    if (session_->linkState() == LinkState::Connected) connected();
  });
  connect(&s, &ClientSession::remoteVideoTrackChanged, this, [this] {
    auto track = session_->remoteVideoTrack();
    if (track == track_) return;
    if (track_) track_->removeSink(this);
    track_ = std::move(track);
    if (track_) track_->addSink(this);
  });
  // The reason of an end may be replaced right after it ("left" turns "Arrêt
  // de la session" into "L'hôte s'est déconnecté"): the last one counts.
  connect(&s, &ClientSession::endReasonChanged, this, [this] { settle_.start(); });
  clock_.start();
  ticker_.start();
  consoleLine(lcApp(), QStringLiteral("Joining %1…").arg(options_.roomId));
  s.startClient(options_.roomId);
}

void HeadlessClient::stop() {
  if (!session_ || stopping_ || finished_) return;
  if (!session_->running()) {
    // Already over: that end, being settled, decides the exit code.
    if (settle_.isActive()) return;
    stopping_ = true;
    sessionEnded();
    return;
  }
  stopping_ = true;
  session_->stop(departureText(environment_.profileStore().displayName(), Role::Client));
}

void HeadlessClient::passwordAsked() {
  if (!session_->askUnattendedPassword()) return;
  if (passwordSent_) {
    finish(exit_code::kPasswordWrong, QStringLiteral("the host refused the password"));
    return;
  }
  if (options_.passwordFile.isEmpty()) {
    finish(exit_code::kPasswordWrong, QStringLiteral("the host asks for a password (--password-file)"));
    return;
  }
  passwordSent_ = true;
  session_->submitUnattendedPassword(password_);
}

void HeadlessClient::connected() {
  if (options_.quality) session_->requestQuality(rawValue(*options_.quality));
}

void HeadlessClient::onFrame(const rtc::I420FrameView& frame) {
  std::lock_guard lock(mutex_);
  if (frames_++ == 0) firstFrameAtMs_ = clock_.elapsed();  // when it came, not when the next tick sees it
  width_ = frame.width;
  height_ = frame.height;
  if (options_.saveFrame.isEmpty()) return;
  last_.copyFrom(frame);
}

void HeadlessClient::tick() {
  uint64_t frames = 0;
  int width = 0, height = 0;
  qint64 firstAt = -1;
  {
    std::lock_guard lock(mutex_);
    frames = frames_;
    width = width_;
    height = height_;
    firstAt = firstFrameAtMs_;
  }
  if (frames > 0 && firstFrameMs_ < 0) {
    firstFrameMs_ = firstAt;
    consoleLine(lcApp(), QStringLiteral("First picture after %1 s").arg(firstFrameMs_ / 1000.0, 0, 'f', 2));
    if (options_.seconds > 0) endTimer_.start(std::max<qint64>(0, options_.seconds * 1000 - (clock_.elapsed() - firstAt)));
    if (!replay_.empty()) replayNext();
  }
  const uint64_t newFrames = frames - framesAtTick_;
  framesAtTick_ = frames;
  session_->collectStats([this, frames, newFrames, width, height](const rtc::ConnectionStats& stats) {
    const rtc::VideoReceiveStats in = stats.receive.value_or(rtc::VideoReceiveStats{});
    const double kbps = (in.bytesReceived - bytesAtTick_) * 8 / 1000.0;
    const uint32_t decoded = in.framesDecoded - decodedAtTick_;
    const double decodeMs = decoded > 0 ? (in.totalDecodeTime - decodeAtTick_) * 1000 / decoded : 0;
    bytesAtTick_ = in.bytesReceived;
    decodedAtTick_ = in.framesDecoded;
    decodeAtTick_ = in.totalDecodeTime;
    consoleLine(lcApp(), QStringLiteral("frames %1 · %2 fps · %3x%4 · %5 kbit/s · decode %6 ms")
                             .arg(frames)
                             .arg(newFrames)
                             .arg(width)
                             .arg(height)
                             .arg(kbps, 0, 'f', 0)
                             .arg(decodeMs, 0, 'f', 1));
    samples_.append(QJsonObject{{QStringLiteral("seconds"), clock_.elapsed() / 1000.0},
                                {QStringLiteral("frames"), double(frames)},
                                {QStringLiteral("fps"), double(newFrames)},
                                {QStringLiteral("width"), width},
                                {QStringLiteral("height"), height},
                                {QStringLiteral("kbps"), kbps},
                                {QStringLiteral("decodeMs"), decodeMs}});
  });
}

void HeadlessClient::replayNext() {
  if (replayed_ >= replay_.size() || !session_) return;
  const QJsonObject message = replay_[replayed_];
  const int after = std::max(0, message.value(QStringLiteral("after")).toInt());
  QTimer::singleShot(after, this, [this, message] {
    if (!session_ || finished_) return;
    if (const QJsonValue display = message.value(QStringLiteral("switchDisplay")); display.isDouble()) {
      // A request of the tool bar's, not a control message.
      session_->requestDisplaySwitch(display.toInt());
    } else if (const auto size = decodeScreenSizeRequest(message)) {
      session_->requestScreenSize(size->width(), size->height());
    } else {
      QJsonObject control = message;
      control.remove(QStringLiteral("after"));
      session_->sendControl(control.toVariantMap());
    }
    ++replayed_;
    replayNext();
  });
}

void HeadlessClient::featuresAgreed() {
  const auto common = exchange().common();
  if (!common || filesOffered_ || options_.sendFiles.isEmpty()) return;
  filesOffered_ = true;
  if (!common->files) {
    consoleLine(lcApp(), QStringLiteral("📁 The host takes no files"));
    fileFailed_ = true;
    stop();
    return;
  }
  for (const QString& path : options_.sendFiles) {
    if (!exchange().sendFile(path)) {
      consoleLine(lcApp(), QStringLiteral("📁 Cannot send ") + path);
      fileFailed_ = true;
    }
  }
  transfersMoved();
}

void HeadlessClient::transfersMoved() {
  using State = TransferProgress::State;
  const auto transfers = exchange().transfers();
  const bool printNow = !filePrinted_.isValid() || filePrinted_.elapsed() >= 1000;
  bool allOver = true;
  for (const auto& t : transfers) {
    const auto& p = t.progress;
    const bool over = p.state != State::Waiting && p.state != State::Running;
    if (t.outgoing && !over) allOver = false;
    if (p.state == State::Running && printNow) {
      consoleLine(lcApp(), QStringLiteral("📁 %1 %2 %3 % · %4 MB/s")
                               .arg(t.outgoing ? QStringLiteral("→") : QStringLiteral("←"), p.name)
                               .arg(p.size > 0 ? 100.0 * double(p.confirmed) / double(p.size) : 100.0, 0, 'f', 0)
                               .arg(p.bytesPerSecond / 1e6, 0, 'f', 1));
    }
  }
  if (printNow) filePrinted_.start();
  if (!filesOffered_ || options_.sendFiles.isEmpty() || !allOver || options_.seconds > 0 || stopping_) return;
  for (const auto& t : transfers) {
    if (t.outgoing && t.progress.state != State::Done) fileFailed_ = true;
  }
  stop();
}

void HeadlessClient::sessionEnded() {
  if (finished_) return;
  const QString reason = session_->endReason();
  const bool sawPicture = firstFrameMs_ >= 0 || [this] {
    std::lock_guard lock(mutex_);
    return frames_ > 0;
  }();
  if (stopping_) {
    // Stopped from outside: a success only if there was something to see.
    finish(sawPicture ? exit_code::kOk : exit_code::kInterrupted,
           sawPicture ? reason : QStringLiteral("stopped before any picture"));
    return;
  }
  // The host ending it before any picture (its connection could not be
  // made, say) is no session that ran.
  const EndCause cause = session_->endCause();
  finish(cause == EndCause::PeerEnded && !sawPicture ? exit_code::kNoConnection : codeFor(cause), reason);
}

bool HeadlessClient::saveLastFrame() {
  std::lock_guard lock(mutex_);
  if (last_.isEmpty()) return false;
  return last_.toImage().save(options_.saveFrame, "PNG");
}

void HeadlessClient::finish(int code, const QString& why) {
  if (finished_) return;
  finished_ = true;
  ticker_.stop();
  endTimer_.stop();
  const uint64_t frames = [this] {
    std::lock_guard lock(mutex_);
    return frames_;
  }();
  const double seconds = clock_.isValid() ? clock_.elapsed() / 1000.0 : 0;
  if (fileFailed_ && code == exit_code::kOk) code = exit_code::kFailure;
  if (!options_.saveFrame.isEmpty() && !saveLastFrame()) {
    consoleLine(lcApp(), QStringLiteral("No picture to save to ") + options_.saveFrame);
    if (code == exit_code::kOk) code = exit_code::kFailure;
  }
  if (!options_.json.isEmpty()) {
    QFile file(options_.json);
    const QJsonObject summary{{QStringLiteral("room"), options_.roomId},
                              {QStringLiteral("exitCode"), code},
                              {QStringLiteral("reason"), why},
                              {QStringLiteral("frames"), double(frames)},
                              {QStringLiteral("seconds"), seconds},
                              {QStringLiteral("firstFrameSeconds"),
                               firstFrameMs_ < 0 ? QJsonValue() : QJsonValue(firstFrameMs_ / 1000.0)},
                              {QStringLiteral("samples"), samples_}};
    const QByteArray bytes = QJsonDocument(summary).toJson();
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(bytes) == bytes.size() && file.flush();
    if (!written) {
      consoleLine(lcApp(), QStringLiteral("Cannot write ") + options_.json + QStringLiteral(": ") + file.errorString());
      if (code == exit_code::kOk) code = exit_code::kFailure;
    }
  }
  consoleLine(lcApp(), QStringLiteral("Ended: %1").arg(why));
  consoleLine(lcApp(), QStringLiteral("Summary: %1 frames in %2 s, first picture after %3 s, exit code %4")
                           .arg(frames)
                           .arg(seconds, 0, 'f', 1)
                           .arg(firstFrameMs_ < 0 ? QStringLiteral("—")
                                                  : QString::number(firstFrameMs_ / 1000.0, 'f', 2))
                           .arg(code));
  if (track_) {
    track_->removeSink(this);
    track_.reset();
  }
  Q_EMIT finished(code);
}

}  // namespace lunor
