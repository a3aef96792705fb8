// SPDX-License-Identifier: GPL-3.0-or-later
// Signaling messages as a server (or a peer through it) may send them to the
// application: every reader of the session takes them without harm.

#include <QJsonDocument>

#include "fuzz_support.h"
#include "protocol/signaling_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lunor;
  const QJsonDocument document = QJsonDocument::fromJson(fuzz::bytes(data, size));
  if (!document.isObject()) return 0;
  const QJsonObject message = document.object();
  const QJsonObject payload = message.value(QLatin1String("data")).toObject();
  std::ignore = signaling::typeOf(message);
  std::ignore = signaling::joinRequest(message);
  std::ignore = signaling::peerJoined(message);
  for (const QJsonObject& object : {message, payload}) {
    std::ignore = signaling::descriptionOf(object);
    std::ignore = signaling::qualityOf(object);
    std::ignore = signaling::switchIndexOf(object);
    std::ignore = signaling::endReasonOf(object);
    const auto geometry = signaling::videoGeometryOf(object);
    fuzz::require(geometry.width >= 0 && geometry.height >= 0, "geometry is never negative");
    for (const auto& entry : signaling::displaysOf(object)) {
      fuzz::require(entry.index >= 0, "display indices are never negative");
    }
    if (const auto candidate = signaling::candidateOf(object)) {
      const auto again = signaling::candidateOf(signaling::icePayload(*candidate));
      fuzz::require(again && again->sdp == candidate->sdp && again->sdpMid == candidate->sdpMid &&
                        again->sdpMLineIndex == candidate->sdpMLineIndex,
                    "a candidate read back from its payload is the same");
    }
  }
  return 0;
}
