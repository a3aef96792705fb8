// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the service lives: the signaling endpoint (and, later, STUN and TURN).
// Each value is a constant with a default, overridable by the settings file
// and, for tests, by an environment variable.

#include <optional>
#include <vector>

#include <QString>
#include <QUrl>

#include "rtc/rtc_types.h"

class QSettings;

namespace lunor {

inline constexpr char kDefaultSignalingUrl[] = "ws://127.0.0.1:8787/signal";
inline constexpr char kSignalingUrlEnv[] = "LUNOR_SIGNALING_URL";
inline constexpr char kSignalingUrlKey[] = "signaling/url";
// A PEM file of extra certificate authorities for a self-hosted server.
inline constexpr char kSignalingCaFileKey[] = "signaling/caFile";

struct SignalingEndpoint {
  QUrl url;
  QString extraCaFile;  // empty when none
  // The keep-alive ping's interval (20 s; shorter in tests).
  int pingIntervalMs = 20'000;
  // How long a client waits for the host's person to answer its join (they
  // may be reading); shorter in tests.
  int approvalTimeoutMs = 60'000;
  // A client not let in yet whose server cannot be reached tries again after
  // each of these waits, then gives up; shorter in tests.
  std::vector<int> reconnectDelaysMs{1000, 2000, 4000, 8000, 16000};
};

// Environment first, then the settings, then the default.
SignalingEndpoint signalingEndpoint(const QSettings& settings);

inline constexpr char kDefaultStunUrl[] = "stun:127.0.0.1:3478";
inline constexpr char kDefaultTurnUrl[] = "turn:127.0.0.1:3478";
inline constexpr char kStunUrlEnv[] = "LUNOR_STUN_URL";
inline constexpr char kTurnUrlEnv[] = "LUNOR_TURN_URL";
inline constexpr char kStunUrlKey[] = "ice/stunUrl";
inline constexpr char kTurnUrlKey[] = "ice/turnUrl";
// "relay" sends everything through the TURN server (for networks that must
// not see peer addresses); anything else, or nothing, allows every path.
inline constexpr char kTransportPolicyEnv[] = "LUNOR_ICE_TRANSPORT_POLICY";
inline constexpr char kTransportPolicyKey[] = "ice/transportPolicy";
inline constexpr char kTurnUsername[] = "rook";
inline constexpr char kTurnCredential[] = "MapleRiverStoneOwl2031";

// The peer connection configuration: unified plan, continual gathering, no
// TCP candidates, all transports (unless set to relay only), the STUN server
// then the TURN server (over UDP and TCP when its URL names no transport).
rtc::Configuration peerConfiguration(const QSettings& settings);

// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(const QString& host);

// Why the URL cannot be used, or nothing when it can: plain ws:// is accepted
// for loopback hosts only, every other host needs wss://.
std::optional<QString> signalingUrlProblem(const QUrl& url);

}  // namespace lunor
