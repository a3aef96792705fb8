#pragma once

// What a session does beyond the basic protocol, with a peer that announced
// the same: each side announces its features when "control" opens; once
// both have, the host opens the channel of each feature in common and the
// feature starts when it is open. A peer that announced nothing (one that
// follows the basic protocol only) gets nothing more than our announcement.
// Main thread.

#include <memory>
#include <optional>

#include <QObject>

#include "protocol/peer_features.h"
#include "session/channel_pump.h"
#include "session/clipboard_sync.h"

class QSettings;

namespace lunor {

class Clipboard;
class Negotiation;

class FeatureExchange final : public QObject {
  Q_OBJECT

 public:
  static constexpr char kClipboardLabel[] = "clipboard";
  // Settings keys of the clipboard's two directions (true by default).
  static constexpr char kClipboardSendKey[] = "clipboardSend";
  static constexpr char kClipboardReceiveKey[] = "clipboardReceive";

  // All borrowed; they must outlive the exchange. opensChannels: the host.
  FeatureExchange(Negotiation& negotiation, Clipboard& clipboard, QSettings& settings, ClipboardSync::Log log,
                  QObject* parent = nullptr);

  // The role of the session being started.
  void setOpensChannels(bool opens) { opensChannels_ = opens; }
  // The connection is gone: every feature stops until the next one.
  void reset();

  // What both sides may use (nothing until the peer announced).
  std::optional<PeerFeatures> common() const { return common_; }
  ClipboardSync& clipboard() { return clipboard_; }

 Q_SIGNALS:
  void commonChanged();

 private:
  void controlOpened();
  void peerAnnounced(const PeerFeatures& theirs);
  void channelOpened(const QString& label);
  void channelClosed(const QString& label);
  void channelMessage(const QString& label, const QByteArray& data, bool binary);

  Negotiation& negotiation_;
  QSettings& settings_;
  ClipboardSync::Log log_;
  ClipboardSync clipboard_;
  ChannelPump clipboardPump_;
  bool opensChannels_ = false;
  std::optional<PeerFeatures> common_;
};

}  // namespace lunor
