// SPDX-License-Identifier: GPL-3.0-or-later
// The signaling server's protocol as a crowd of hostile connections may
// drive it. The input is a script of records: a byte below 0x10 opens a
// connection, a byte from 0x10 to 0x1f closes one, any other byte sends the
// frame that follows (a length byte, then that many bytes) on connection
// (byte mod count). "$0" to "$7" in a frame stand for the client IDs of the
// connections, which the server draws at random.


#include "fuzz_support.h"
#include "rooms.h"

namespace {

using namespace lunor::signal;

struct CheckingOutput final : RoomsOutput {
  void send(const QString& peerId, const QByteArray& json) override {
    lunor::fuzz::require(live && live->contains(peerId), "frames go to open connections only");
    lunor::fuzz::requireServerFrame(json);
  }
  void close(const QString& peerId, int, const QString&) override { closing << peerId; }
  const QStringList* live = nullptr;
  QStringList closing;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckingOutput output;
  ServerLimits limits;
  limits.burstMessages = 1e6;  // the rate limit would hide the rooms behind it
  qint64 now = 0;
  MemoryOwnerStore owners;
  Rooms rooms(limits, output, [&now] { return now += 250; }, owners);
  QStringList peers;
  output.live = &peers;
  size_t i = 0;
  while (i < size && peers.size() <= 64) {
    const uint8_t op = data[i++];
    if (op < 0x10) {
      peers << rooms.newClientId();
      rooms.connected(peers.last(), QStringLiteral("10.0.0.%1").arg(op % 4));
    } else if (op < 0x20) {
      if (peers.isEmpty()) continue;
      const QString id = peers.takeAt(op % peers.size());
      rooms.disconnected(id, 1000);
    } else {
      if (i >= size) break;
      const size_t wanted = data[i++];
      const size_t length = std::min(wanted, size - i);
      QByteArray frame(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(length));
      i += length;
      if (peers.isEmpty()) continue;
      for (int k = 0; k < std::min<int>(8, static_cast<int>(peers.size())); ++k) {
        frame.replace(QByteArray("$") + QByteArray::number(k), peers[k].toUtf8());
      }
      rooms.frame(peers[op % peers.size()], frame);
      if (op == 0xFF) rooms.expire();
    }
    // A connection the rooms closed goes away, as the network would tell.
    for (const QString& id : std::exchange(output.closing, {})) {
      if (peers.removeOne(id)) rooms.disconnected(id, 1008);
    }
  }
  lunor::fuzz::require(rooms.connectionCount() == peers.size(), "the rooms count the open connections");
  return 0;
}
