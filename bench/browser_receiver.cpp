// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser_receiver.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

#include "process_stats.h"
#include "session/service_config.h"
#include "stamp.h"

namespace lunor::bench {

namespace {

rtc::VideoReceiveStats receiveStatsOf(const QJsonObject& s) {
  rtc::VideoReceiveStats r;
  r.bytesReceived = uint64_t(s.value("bytesReceived").toDouble());
  r.framesDecoded = uint32_t(s.value("framesDecoded").toDouble());
  r.totalDecodeTime = s.value("totalDecodeTime").toDouble();
  r.totalProcessingDelay = s.value("totalProcessingDelay").toDouble();
  r.totalAssemblyTime = s.value("totalAssemblyTime").toDouble();
  r.jitterBufferDelay = s.value("jitterBufferDelay").toDouble();
  r.jitterBufferTargetDelay = s.value("jitterBufferTargetDelay").toDouble();
  r.jitterBufferEmittedCount = uint64_t(s.value("jitterBufferEmittedCount").toDouble());
  return r;
}

// The change of a counter of the page's inbound stats over the window, or
// nothing where the browser has no such counter.
std::optional<double> grown(const QJsonObject& before, const QJsonObject& after, const QString& key) {
  if (!before.contains(key) || !after.contains(key)) return std::nullopt;
  return after.value(key).toDouble() - before.value(key).toDouble();
}

}  // namespace

BrowserReceiver::BrowserReceiver(QUrl signaling, const Stamp& stamp)
    : signaling_(std::move(signaling)), stamp_(stamp) {}

BrowserReceiver::~BrowserReceiver() { leave(); }

// The page's times are its performance clock's (monotonic, as ours; the
// wall clock may be stepped during a run, which once made latencies of
// -18 s): the offset to ours, read over the shortest of 20 round trips
// (its error is at most half that trip; with 3, on a loaded machine, runs
// differed by several ms in every latency).
bool BrowserReceiver::measurePageClock() {
  int64_t bestTrip = INT64_MAX;
  for (int i = 0; i < 20; ++i) {
    const int64_t before = monotonicUs();
    const auto pageNow = chromium_.evaluate(QStringLiteral("performance.now()"));
    const int64_t after = monotonicUs();
    if (!pageNow || !pageNow->isDouble() || after - before >= bestTrip) continue;
    bestTrip = after - before;
    pageOffsetUs_ = (before + after) / 2 - int64_t(pageNow->toDouble() * 1000);
  }
  if (bestTrip == INT64_MAX) error_ = QStringLiteral("the page's clock could not be read");
  return bestTrip != INT64_MAX;
}

std::optional<QJsonValue> BrowserReceiver::evaluate(const QString& expression) {
  auto value = chromium_.evaluate(expression);
  if (!value) error_ = chromium_.error();
  return value;
}

std::optional<double> BrowserReceiver::join(const QString& room, const QString& password, QualityProfile profile) {
  QUrl page = QUrl::fromLocalFile(QStringLiteral(LUNOR_RECEIVER_PAGE));
  QUrlQuery query{{"signal", signaling_.toString()}, {"room", room}, {"quality", rawValue(profile)}};
  query.addQueryItem("password", QString::fromLatin1(QUrl::toPercentEncoding(password)));
  if (!turnUrl_.isEmpty()) {
    query.addQueryItem("turn", turnUrl_);
    query.addQueryItem("turnUser", kTurnUsername);
    query.addQueryItem("turnCredential", kTurnCredential);
  }
  page.setQuery(query);

  const int64_t started = monotonicUs();
  if (!chromium_.open(page)) {
    error_ = chromium_.error();
    return std::nullopt;
  }
  joined_ = true;

  double firstFrameAt = 0;
  QString pageError;
  std::ignore = QTest::qWaitFor(
      [&] {
        const auto state = evaluate("[window.bench ? bench.firstFrameAt : 0, window.bench ? bench.error : null]");
        if (state && state->isArray()) {
          firstFrameAt = state->toArray().at(0).toDouble();
          pageError = state->toArray().at(1).toString();
        }
        if (firstFrameAt == 0 && pageError.isEmpty()) QTest::qWait(50);
        return firstFrameAt > 0 || !pageError.isEmpty();
      },
      20000);
  if (firstFrameAt <= 0) {
    error_ = pageError.isEmpty() ? QStringLiteral("no picture within 20 s") : pageError;
    return std::nullopt;
  }
  if (!measurePageClock()) return std::nullopt;
  return (firstFrameAt * 1000 + double(pageOffsetUs_) - double(started)) / 1000.0;
}

void BrowserReceiver::beginWindow() {
  std::ignore = evaluate("bench.take().length");
  statsAtStart_ = evaluate("bench.stats()").value_or(QJsonValue()).toObject();
  cpuAtStart_ = treeCpuSeconds(chromium_.processId());
  keyHandOverMs_.clear();
  measurePageClock();
  windowStartUs_ = monotonicUs();
}

ReceiverWindow BrowserReceiver::endWindow() {
  ReceiverWindow w;
  const QJsonArray frames = evaluate("bench.take()").value_or(QJsonValue()).toArray();
  w.seconds = (monotonicUs() - windowStartUs_) / 1e6;
  w.cpuSeconds = treeCpuSeconds(chromium_.processId()) - cpuAtStart_;
  const QJsonObject statsAtEnd = evaluate("bench.stats()").value_or(QJsonValue()).toObject();
  if (!statsAtStart_.isEmpty() && !statsAtEnd.isEmpty()) {
    addReceiveStats(w, receiveStatsOf(statsAtStart_), receiveStatsOf(statsAtEnd));
    w.nacksSent = grown(statsAtStart_, statsAtEnd, "nackCount");
    w.plisSent = grown(statsAtStart_, statsAtEnd, "pliCount");
    w.packetsLost = grown(statsAtStart_, statsAtEnd, "packetsLost");
    w.freezes = grown(statsAtStart_, statsAtEnd, "freezeCount");
    w.frozenSeconds = grown(statsAtStart_, statsAtEnd, "totalFreezesDuration");
  }
  if (const auto size = evaluate("[bench.width, bench.height]"); size && size->isArray()) {
    w.width = size->toArray().at(0).toInt();
    w.height = size->toArray().at(1).toInt();
  }
  const int64_t offset = pageOffsetUs_;
  w.startUs = windowStartUs_;
  int64_t last = -1;
  for (const QJsonValue& value : frames) {
    const QJsonArray frame = value.toArray();
    ++w.frames;
    const int64_t counter = int64_t(frame.at(0).toDouble());
    const int64_t drawn = counter >= 0 ? stamp_.drawnAt(uint32_t(counter)) : 0;
    const double presented = frame.at(1).toDouble() * 1000 + double(offset);
    w.pictures.push_back({int64_t(presented), drawn});
    if (drawn == 0) {
      ++w.unreadable;
      continue;
    }
    const bool repeat = counter == last;
    if (repeat) ++w.repeats;
    last = counter;
    // A typed key is timed at its first sight, and only when it was typed in
    // this window (the first picture may still show the one before).
    if (stamp_.timedOnce() && (repeat || drawn < windowStartUs_)) continue;
    w.latenciesMs.push_back((presented - double(drawn)) / 1000.0);
    w.timedStamps.push_back(uint32_t(counter));
  }
  w.keyHandOverMs = std::exchange(keyHandOverMs_, {});
  return w;
}

bool BrowserReceiver::sendKey(uint16_t macKeyCode, bool down) {
  if (!joined_) return false;
  const int64_t called = monotonicUs();
  // Our client's very text, handed to the page as a string literal.
  const QString text = QString::fromUtf8(encodeControlMessage(keyMessage(macKeyCode, down)));
  const auto sentAt = evaluate(QStringLiteral("bench.sendControl(%1)").arg(test::HeadlessChromium::literal(text)));
  if (!sentAt || !sentAt->isDouble()) {
    if (sentAt) error_ = QStringLiteral("the control channel is not open");
    return false;
  }
  if (down) {
    const double sentUs = sentAt->toDouble() * 1000 + double(pageOffsetUs_);
    keyHandOverMs_.push_back((sentUs - double(called)) / 1000.0);
  }
  return true;
}

void BrowserReceiver::leave() {
  if (!joined_) return;
  std::ignore = evaluate("bench.leave()");
  QTest::qWait(300);
  chromium_.closePage();
  joined_ = false;
}

}  // namespace lunor::bench
