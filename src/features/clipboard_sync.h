// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Keeps the two sides' clipboards alike, each direction switchable: what
// is copied on one side during the session is sent when it changes (never
// what it held before), and put in the other side's clipboard. What came from a peer is
// never sent on, back to it or to another session of this process: the
// process remembers the last contents it received.

#include <cstdint>
#include <functional>
#include <optional>

#include <QObject>

#include "protocol/clipboard_wire.h"
#include "protocol/peer_features.h"

namespace lunor {

class Clipboard;

class ClipboardSync final : public QObject {
  Q_OBJECT

 public:
  using Send = std::function<void(std::vector<WireMessage> messages)>;  // replaces what is still queued
  using Log = std::function<void(const QString& line)>;

  // clipboard is borrowed and must outlive the sync.
  ClipboardSync(Clipboard& clipboard, Log log, QObject* parent = nullptr);

  // Both sides agreed on the clipboard within `limits`, and its channel is
  // open; copies from now on go.
  void start(const PeerFeatures& limits, Send send);
  void stop();
  bool running() const { return assembler_.has_value(); }

  // This side's clipboard to the peer, and the peer's to this side.
  void setSending(bool on);
  void setReceiving(bool on);
  bool sending() const { return sending_; }
  bool receiving() const { return receiving_; }

  // A message of the clipboard channel.
  void receive(const QByteArray& data, bool binary);

 Q_SIGNALS:
  void switchesChanged();
  // start() ran: copies from now on go to the peer.
  void started();
  // A content from the peer, as put in our clipboard.
  void received(const lunor::ClipboardContent& content);

 private:
  void localChanged();

  Clipboard& clipboard_;
  Log log_;
  Send send_;
  std::optional<ClipboardAssembler> assembler_;
  PeerFeatures limits_;
  bool sending_ = true;
  bool receiving_ = true;
  uint32_t nextId_ = 1;
};

}  // namespace lunor
