// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pieces every part of the WebRTC adapter shares: conversions between the
// library's types and ours, the library's threads, and a slot for an
// observer that another thread may clear. Include from rtc/webrtc/ only.

#include <mutex>
#include <string>

#include "api/peer_connection_interface.h"
#include "rtc/peer_connection.h"
#include "rtc_base/thread.h"

namespace lunor::rtc::adapter {

inline Error toError(const webrtc::RTCError& error) {
  if (error.ok()) return {};
  std::string message = error.message();
  if (message.empty()) message = webrtc::ToString(error.type());
  return Error{message};
}

inline IceConnectionState toIceState(webrtc::PeerConnectionInterface::IceConnectionState state) {
  using S = webrtc::PeerConnectionInterface::IceConnectionState;
  switch (state) {
    case S::kIceConnectionNew: return IceConnectionState::New;
    case S::kIceConnectionChecking: return IceConnectionState::Checking;
    case S::kIceConnectionConnected: return IceConnectionState::Connected;
    case S::kIceConnectionCompleted: return IceConnectionState::Completed;
    case S::kIceConnectionFailed: return IceConnectionState::Failed;
    case S::kIceConnectionDisconnected: return IceConnectionState::Disconnected;
    case S::kIceConnectionClosed: return IceConnectionState::Closed;
    default: return IceConnectionState::Unknown;
  }
}

inline webrtc::SdpType toSdpType(SdpType type) {
  switch (type) {
    case SdpType::Offer: return webrtc::SdpType::kOffer;
    case SdpType::PrAnswer: return webrtc::SdpType::kPrAnswer;
    case SdpType::Answer: return webrtc::SdpType::kAnswer;
    case SdpType::Rollback: return webrtc::SdpType::kRollback;
  }
  return webrtc::SdpType::kOffer;
}

inline SdpType fromSdpType(webrtc::SdpType type) {
  switch (type) {
    case webrtc::SdpType::kOffer: return SdpType::Offer;
    case webrtc::SdpType::kPrAnswer: return SdpType::PrAnswer;
    case webrtc::SdpType::kAnswer: return SdpType::Answer;
    case webrtc::SdpType::kRollback: return SdpType::Rollback;
  }
  return SdpType::Offer;
}

// "true" -> 1, "false" -> 0, anything else leaves the option undefined.
inline int constraintFlag(const MediaConstraints& constraints, const std::string& key) {
  auto find = [&](const std::map<std::string, std::string>& map) -> int {
    auto it = map.find(key);
    if (it == map.end()) return webrtc::PeerConnectionInterface::RTCOfferAnswerOptions::kUndefined;
    if (it->second == "true") return 1;
    if (it->second == "false") return 0;
    return webrtc::PeerConnectionInterface::RTCOfferAnswerOptions::kUndefined;
  };
  int value = find(constraints.mandatory);
  if (value == webrtc::PeerConnectionInterface::RTCOfferAnswerOptions::kUndefined) {
    value = find(constraints.optional);
  }
  return value;
}

inline webrtc::PeerConnectionInterface::RTCOfferAnswerOptions toOfferAnswerOptions(
    const MediaConstraints& constraints) {
  webrtc::PeerConnectionInterface::RTCOfferAnswerOptions options;
  options.offer_to_receive_video = constraintFlag(constraints, "OfferToReceiveVideo");
  options.offer_to_receive_audio = constraintFlag(constraints, "OfferToReceiveAudio");
  return options;
}

// Shared by every object the factory hands out, so the threads outlive the
// last connection, track or source that runs on them.
struct Context {
  std::unique_ptr<::rtc::Thread> network;
  std::unique_ptr<::rtc::Thread> worker;
  std::unique_ptr<::rtc::Thread> signaling;
  ::rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;

  ~Context() {
    factory = nullptr;
    if (signaling) signaling->Stop();
    if (worker) worker->Stop();
    if (network) network->Stop();
  }
};

// Holds an observer pointer that can be cleared from another thread; a
// callback runs with the lock held, so clearing waits for it to finish.
template <typename T>
class ObserverSlot {
 public:
  void set(T* observer) {
    std::lock_guard lock(mutex_);
    observer_ = observer;
  }
  template <typename F>
  void call(F&& f) {
    std::lock_guard lock(mutex_);
    if (observer_) f(*observer_);
  }

 private:
  std::recursive_mutex mutex_;
  T* observer_ = nullptr;
};

}  // namespace lunor::rtc::adapter
