// The "control" channel: the client's pointer and keyboard actions, and the
// host's replay of them through the injector.

#include <cmath>
#include <limits>

#include <QJsonDocument>
#include <QVariantMap>

#include "host/control_injector.h"
#include "session/remote_session.h"
#include "session/session_environment.h"

namespace lunor {
namespace {

constexpr int kBoostFps = 60;

double numberOr0(const QJsonObject& message, const char* key) {
  const QJsonValue value = message.value(QLatin1String(key));
  return value.isDouble() ? value.toDouble() : 0.0;
}

// An integer-valued JSON number, or nothing.
std::optional<double> integer(const QJsonObject& message, const char* key) {
  const QJsonValue value = message.value(QLatin1String(key));
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (!std::isfinite(number) || number != std::floor(number)) return std::nullopt;
  return number;
}

// Scroll deltas must fit a signed 32-bit count of pixels after negation.
double boundedDelta(double delta) {
  constexpr double kLimit = std::numeric_limits<int32_t>::max();
  return std::clamp(delta, -kLimit, kLimit);
}

}  // namespace

// ------------------------------------------------------------------ client --

bool RemoteSession::isControlChannelOpen() const {
  std::lock_guard lock(mediaMutex_);
  return controlChannel_ && controlChannel_->state() == rtc::DataChannelState::Open;
}

void RemoteSession::sendControl(const QVariantMap& message) {
  sendControl(QJsonObject::fromVariantMap(message));
}

void RemoteSession::sendControl(const QJsonObject& message) {
  if (role() != Role::Client) return;
  auto channel = currentControlChannel();
  if (!channel || channel->state() != rtc::DataChannelState::Open) return;
  const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
  if (bytes.isEmpty()) return;
  channel->send(bytes.toStdString(), /*binary=*/false);
}

// -------------------------------------------------------------------- host --

void RemoteSession::onMessage(const std::string& data, bool binary) {
  // Only the channel "control" is observed; the client never interprets traffic.
  if (binary || role() == Role::Client) return;
  QJsonParseError error;
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size())), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return;
  handleControlMessage(document.object());
}

void RemoteSession::handleControlMessage(const QJsonObject& message) {
  if (role() == Role::Client) return;
  if (!environment_.mayControlComputer()) {
    log(QStringLiteral("⚠️ Autorise l'app dans Confidentialité > Accessibilité pour contrôler le Mac."));
    return;
  }
  const QJsonValue typeValue = message.value(QLatin1String("t"));
  const QString t = typeValue.isString() ? typeValue.toString() : QString();
  const double x = numberOr0(message, "x");
  const double y = numberOr0(message, "y");
  const std::optional<double> buttonValue = integer(message, "b");
  const int button = buttonValue && std::abs(*buttonValue) < 1e6 ? static_cast<int>(*buttonValue) : 0;
  ControlInjector& injector = *controlInjector_;

  if (t == QLatin1String("move")) {
    injector.moveTo(x, y);
  } else if (t == QLatin1String("mdown")) {
    injector.mouseDown(button, x, y);
    beginDragBoost();
  } else if (t == QLatin1String("mup")) {
    injector.mouseUp(button, x, y);
    endDragBoost();
  } else if (t == QLatin1String("drag")) {
    injector.drag(button == 1, x, y);
  } else if (t == QLatin1String("doubleclick")) {
    injector.doubleClick(button == 1);
    log(QStringLiteral("🔴 Double-clic exécuté"));
  } else if (t == QLatin1String("scroll")) {
    injector.scroll(x, y, boundedDelta(numberOr0(message, "dx")), boundedDelta(numberOr0(message, "dy")));
  } else if (t == QLatin1String("keydown") || t == QLatin1String("keyup")) {
    const bool down = t == QLatin1String("keydown");
    const QJsonValue keyCodeValue = message.value(QLatin1String("keyCode"));
    if (keyCodeValue.isDouble()) {
      const std::optional<double> keyCode = integer(message, "keyCode");
      // A number that is not a key code is dropped rather than wrapped.
      if (!keyCode || *keyCode < 0 || *keyCode > 65535) return;
      const auto code = static_cast<uint16_t>(*keyCode);
      postToMain([this, code, down] { controlInjector_->keyEvent(code, down); });
      return;
    }
    const QJsonValue keyValue = message.value(QLatin1String("key"));
    const QString key = keyValue.isString() ? keyValue.toString() : QString();
    // One UTF-16 unit at most: characters beyond U+FFFF have no key to type.
    if (!key.isEmpty() && key.at(0).isHighSurrogate()) return;
    postToMain([this, key, down] { controlInjector_->typeCharacter(key, down); });
  } else if (t == QLatin1String("mod")) {
    const QJsonValue k = message.value(QLatin1String("k"));
    const QJsonValue d = message.value(QLatin1String("d"));
    if (!k.isString() || !d.isBool()) return;
    postToMain([this, name = k.toString(), down = d.toBool()] {
      controlInjector_->setModifier(name, down);
    });
  }
}

// -------------------------------------------------------------- drag boost --

void RemoteSession::beginDragBoost() {
  if (dragBoostCount_.fetch_add(1) > 0) return;
  const QSize native = nativeDisplaySize();
  if (auto source = videoSource()) source->adaptOutputFormat(native.width(), native.height(), kBoostFps);
  if (auto capture = capturer()) capture->setFrameRate(kBoostFps, nullptr);
}

void RemoteSession::endDragBoost() {
  int count = dragBoostCount_.load();
  do {
    if (count == 0) return;
  } while (!dragBoostCount_.compare_exchange_weak(count, count - 1));
  if (count != 1) return;
  const QSize native = nativeDisplaySize();
  const int fps = settingsOf(currentQuality_).fps;
  if (auto source = videoSource()) source->adaptOutputFormat(native.width(), native.height(), fps);
  if (auto capture = capturer()) capture->setFrameRate(fps, nullptr);
}

}  // namespace lunor
