// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a session does beyond the basic protocol, with a peer that announced
// the same: each side announces its features when "control" opens; once
// both have, the host opens the channel of each feature in common and the
// feature starts when it is open. A peer that announced nothing (one that
// follows the basic protocol only) gets nothing more than our announcement.
// Main thread.

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>

#include "protocol/peer_features.h"
#include "session/connection_features.h"
#include "features/channel_pump.h"
#include "features/clipboard_sync.h"
#include "features/file_transfer.h"

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
  // The largest file received, in bytes (a setting; 8 GiB by default).
  static constexpr char kFileMaxKey[] = "fileMaxBytes";
  static constexpr int64_t kDefaultFileMax = int64_t(8) << 30;

  // All borrowed; they must outlive the exchange. opensChannels: the host.
  FeatureExchange(Negotiation& negotiation, Clipboard& clipboard, QSettings& settings, ClipboardSync::Log log,
                  QObject* parent = nullptr);

  // Files going either way at once, those waiting for the person's answer
  // included: beyond, ours wait their turn and the peer's are declined.
  static constexpr int kMaxAtOnce = 8;
  // Ended transfers still listed, the newest.
  static constexpr int kMaxEndedRows = 20;
  // How long the side that ended a transfer waits for the other to close
  // its channel.
  static constexpr int kCloseGraceMs = 10'000;

  // The role of the session being started.
  void setOpensChannels(bool opens) { opensChannels_ = opens; }
  // How the connection went (Lost and Replaced: files being sent go on
  // with the next connection to the same peer, parts are kept; Ended:
  // every transfer is cancelled).
  using Cut = ConnectionFeatures::Cut;
  // Before the connection goes (its channels still carry a last word):
  // every feature stops until the next one.
  void reset(Cut cut);

  // What both sides may use (nothing until the peer announced).
  std::optional<PeerFeatures> common() const { return common_; }
  ClipboardSync& clipboard() { return clipboard_; }
  const ClipboardSync& clipboard() const { return clipboard_; }

  // Files. Received ones go to `folder` (the Downloads folder's "Lunor
  // Remote" by default); without a person to ask (a client, an unattended
  // session) they are taken unasked, otherwise fileOffered() waits for
  // acceptFile() or declineFile().
  void setReceiveFolder(const QString& folder) { receiveFolder_ = folder; }
  void setAcceptsFilesUnasked(bool unasked) { acceptsFilesUnasked_ = unasked; }
  // This side shares a desktop of its own, and says so.
  void setSeparateSession(bool separate) { separateSession_ = separate; }
  // Who the peer is, for as long as its connections last (a client: the
  // host's ID; empty: none to go by). Files being sent when a connection
  // ends are offered again, from where the receiver stopped, when the
  // next connection to the same peer agrees on files.
  void setPeerKey(const QString& key) { peerKey_ = key; }
  // The host's room: the files received are kept apart by it.
  void setRoom(const QString& room) { room_ = room; }
  // Sends the file at `path` on a channel of its own; false when the peer
  // takes no files (or not yet).
  bool sendFile(const QString& path);
  void acceptFile(const QString& transfer);
  void declineFile(const QString& transfer);
  void cancelFile(const QString& transfer);
  struct Transfer {
    QString id;  // the channel's label
    bool outgoing = false;
    TransferProgress progress;
  };
  std::vector<Transfer> transfers() const;

 Q_SIGNALS:
  void commonChanged();
  void fileOffered(const QString& transfer);
  void transfersChanged();

 private:
  void controlOpened();
  void peerAnnounced(const PeerFeatures& theirs);
  void channelOpened(const QString& label);
  void channelClosed(const QString& label);
  void channelMessage(const QString& label, const QByteArray& data, bool binary);

  void fileChannelOpened(const QString& label);
  TransferChannel channelFor(const QString& label);
  bool sendFile(const QString& path, const QByteArray& resumeKey);
  // A transfer has ended: its channel closes, its row stays a while.
  void transferEnded(const QString& label, bool outgoing, const TransferProgress& progress);
  int going(bool outgoing) const;
  // Opens the channels of files waiting their turn, while there is room.
  void startQueued();
  // What this side announces: what it can do, and whether its desktop is its own.
  PeerFeatures announced() const;

  Negotiation& negotiation_;
  QSettings& settings_;
  QString receiveFolder_;
  bool acceptsFilesUnasked_ = false;
  bool separateSession_ = false;
  QString peerKey_;
  QString room_;
  FileReader reader_;
  // Files cut off with the last connection, to send again to the same peer.
  struct Unfinished {
    QString label;  // as listed
    QString path;
    QByteArray resumeKey;
    TransferProgress progress;
  };
  QString unfinishedPeer_;
  std::vector<Unfinished> unfinished_;
  std::map<QString, std::unique_ptr<FileSender>> senders_;
  std::map<QString, std::unique_ptr<FileReceiver>> receivers_;
  // Parts kept when their channel closed during this connection: its end
  // decides whether they wait for the next one (folder, key).
  std::vector<std::pair<QString, QString>> cutParts_;
  std::vector<QString> queued_;  // senders waiting their turn, in order
  std::vector<Transfer> ended_;  // oldest first
  ClipboardSync::Log log_;
  ClipboardSync clipboard_;
  ChannelPump clipboardPump_;
  bool opensChannels_ = false;
  std::optional<PeerFeatures> common_;
};

}  // namespace lunor
