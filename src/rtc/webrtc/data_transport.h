// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The data channels' SCTP transport, tuned for files beside the picture.
//
// The library's SCTP checks its whole record of unacknowledged data on
// every packet sent and every acknowledgement (a debug check left on in
// the build we link), so its cost per packet grows with what is in flight:
// with the default 5 MiB receive window a file at full speed spends most of
// its sender's network thread walking that record, and the picture's
// packets wait behind it. What we announce as our receive window bounds
// what a peer keeps in flight towards us; kReceiveWindowBytes keeps it to a
// few hundred packets, still several times what a loopback or LAN round
// trip needs at 50 MB/s. SCTP's own checksum is not verified on receipt:
// every packet arrives inside DTLS, whose authentication already rejects
// any altered byte.

#include <cstddef>
#include <memory>

#include "api/transport/sctp_transport_factory_interface.h"

namespace rtc {
class Thread;
}

namespace lunor::rtc::adapter {

// Above the largest message we accept (256 KiB), as the library requires.
inline constexpr size_t kReceiveWindowBytes = 768 * 1024;

std::unique_ptr<webrtc::SctpTransportFactoryInterface> createDataTransportFactory(::rtc::Thread* network);

}  // namespace lunor::rtc::adapter
