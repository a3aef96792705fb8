// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/feature_exchange.h"
#include "session/epoch.h"

#include <algorithm>
#include <utility>

#include <QDir>
#include <QMetaMethod>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>
#include <QStandardPaths>
#include <QRandomGenerator>
#include <QUuid>

#include "session/negotiation.h"

namespace lunor {

FeatureExchange::FeatureExchange(Negotiation& negotiation, Clipboard& clipboard, QSettings& settings,
                                 ClipboardSync::Log log, QObject* parent)
    : QObject(parent),
      negotiation_(negotiation),
      settings_(settings),
      log_(log),
      clipboard_(clipboard, log),
      clipboardPump_([this](const WireMessage& m) { return negotiation_.sendOn(kClipboardLabel, m.data, m.binary); },
                     [this] { return negotiation_.bufferedAmount(kClipboardLabel); }) {
  negotiation_.acceptChannel(kClipboardLabel);
  negotiation_.acceptChannel(kFileChannelPrefix);
  receiveFolder_ = QDir(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))
                       .filePath(QStringLiteral("Lunor Remote"));
  clipboard_.setSending(settings_.value(kClipboardSendKey, true).toBool());
  clipboard_.setReceiving(settings_.value(kClipboardReceiveKey, true).toBool());
  connect(&clipboard_, &ClipboardSync::switchesChanged, this, [this] {
    settings_.setValue(kClipboardSendKey, clipboard_.sending());
    settings_.setValue(kClipboardReceiveKey, clipboard_.receiving());
  });
  connect(&negotiation_, &Negotiation::controlChannelOpened, this, &FeatureExchange::controlOpened);
  connect(&negotiation_, &Negotiation::peerFeaturesReceived, this, &FeatureExchange::peerAnnounced);
  connect(&negotiation_, &Negotiation::channelOpened, this, &FeatureExchange::channelOpened);
  connect(&negotiation_, &Negotiation::channelClosed, this, &FeatureExchange::channelClosed);
  connect(&negotiation_, &Negotiation::channelMessage, this, &FeatureExchange::channelMessage);
  connect(&clipboardPump_, &ChannelPump::failed, this,
          [this] { log_(QStringLiteral("📋 Canal du presse-papiers saturé : contenu abandonné")); });
}

void FeatureExchange::reset(Cut cut) {
  LUNOR_REQUIRE_THREAD(this);
  clipboard_.stop();
  clipboardPump_.clear();
  const bool goesOn = cut != Cut::Ended;
  const bool listed = !transfers().empty();
  auto senders = std::exchange(senders_, {});
  auto receivers = std::exchange(receivers_, {});
  queued_.clear();
  // What was received stays on disk for the same sender to go on with;
  // what was being sent is offered again on the next connection to the
  // same peer. An end that someone meant cancels both, and tells the peer
  // while the channels are still there.
  for (auto& [label, receiver] : receivers) {
    disconnect(receiver.get(), nullptr, this, nullptr);
    goesOn ? receiver->interrupt() : receiver->cancel();
  }
  for (const auto& [folder, key] : std::exchange(cutParts_, {})) {
    if (!goesOn) ReceivedParts::of(folder).release(key, /*keep=*/false);
  }
  if (!goesOn || peerKey_.isEmpty() || unfinishedPeer_ != peerKey_) unfinished_.clear();
  unfinishedPeer_ = goesOn ? peerKey_ : QString();
  for (auto& [label, sender] : senders) {
    disconnect(sender.get(), nullptr, this, nullptr);
    if (!goesOn) {
      sender->cancel();
    } else if (!peerKey_.isEmpty() && sender->resumable()) {
      TransferProgress progress = sender->progress();
      progress.state = TransferProgress::State::Interrupted;
      progress.reason = QStringLiteral("reprise à la prochaine connexion");
      unfinished_.push_back({label, sender->path(), sender->resumeKey(), progress});
    }
  }
  if (cut != Cut::Replaced) ended_.clear();  // the rows of a session that is over
  // Later: a reset may come from a slot of one of their own signals.
  for (auto& [label, sender] : senders) sender.release()->deleteLater();
  for (auto& [label, receiver] : receivers) receiver.release()->deleteLater();
  if (listed) Q_EMIT transfersChanged();
  if (common_) {
    common_.reset();
    Q_EMIT commonChanged();
  }
}

PeerFeatures FeatureExchange::announced() const {
  PeerFeatures ours = ourFeatures();
  ours.separateSession = separateSession_;
  return ours;
}

void FeatureExchange::controlOpened() { negotiation_.sendControl(encodePeerFeatures(announced())); }

void FeatureExchange::peerAnnounced(const PeerFeatures& theirs) {
  if (common_) return;  // once a connection
  common_ = commonFeatures(announced(), theirs);
  Q_EMIT commonChanged();
  QStringList shared;
  if (common_->clipboard) shared << QStringLiteral("presse-papiers");
  if (common_->files) shared << QStringLiteral("fichiers");
  if (common_->separateSession) shared << QStringLiteral("session à part");
  log_(QStringLiteral("🧩 Fonctions communes : %1").arg(shared.isEmpty() ? QStringLiteral("aucune") : shared.join(QStringLiteral(", "))));
  if (common_->clipboard && opensChannels_ && !negotiation_.openChannel(kClipboardLabel)) {
    log_(QStringLiteral("❌ Impossible de créer le DataChannel 'clipboard'"));
  }
  // Files cut off with the last connection to this peer go on.
  if (!unfinishedPeer_.isEmpty() && unfinishedPeer_ == peerKey_ && common_->files) {
    for (const Unfinished& file : std::exchange(unfinished_, {})) {
      log_(QStringLiteral("📁 Reprise de l’envoi de %1").arg(file.progress.name));
      sendFile(file.path, file.resumeKey);
    }
    Q_EMIT transfersChanged();
  }
}

void FeatureExchange::channelOpened(const QString& label) {
  if (label.startsWith(QLatin1String(kFileChannelPrefix))) return fileChannelOpened(label);
  if (label != QLatin1String(kClipboardLabel) || !common_ || !common_->clipboard || clipboard_.running()) return;
  clipboard_.start(*common_, [this](std::vector<WireMessage> messages) {
    clipboardPump_.clear();  // a newer content replaces one still on its way
    clipboardPump_.push(std::move(messages));
  });
}

void FeatureExchange::channelClosed(const QString& label) {
  if (const auto r = receivers_.find(label); r != receivers_.end()) {
    FileReceiver* receiver = r->second.get();  // lives on: its end is deleted later
    receiver->interrupt();
    // Kept for the next connection, unless this one turns out to have been
    // ended on purpose (its channels may close before the end is heard).
    if (const auto kept = receiver->keptPart()) cutParts_.push_back(*kept);
  }
  if (const auto s = senders_.find(label); s != senders_.end()) s->second->interrupt();
  if (label != QLatin1String(kClipboardLabel)) return;
  clipboard_.stop();
  clipboardPump_.clear();
}

void FeatureExchange::channelMessage(const QString& label, const QByteArray& data, bool binary) {
  if (label == QLatin1String(kClipboardLabel)) return clipboard_.receive(data, binary);
  if (const auto s = senders_.find(label); s != senders_.end()) return s->second->receive(data, binary);
  if (const auto r = receivers_.find(label); r != receivers_.end()) r->second->receive(data, binary);
}

// -------------------------------------------------------------------- files --

TransferChannel FeatureExchange::channelFor(const QString& label) {
  return {[this, label](const QByteArray& data, bool binary) { return negotiation_.sendOn(label, data, binary); },
          [this, label] { return negotiation_.bufferedAmount(label); }};
}

bool FeatureExchange::sendFile(const QString& path) {
  LUNOR_REQUIRE_THREAD(this);
  QByteArray resumeKey(32, Qt::Uninitialized);
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(resumeKey.data()), resumeKey.size() / 4);
  return sendFile(path, resumeKey);
}

bool FeatureExchange::sendFile(const QString& path, const QByteArray& resumeKey) {
  if (!common_ || !common_->files || !QFileInfo(path).isFile()) return false;
  for (const auto& [label, sender] : senders_) {
    if (QFileInfo(sender->path()) == QFileInfo(path)) return true;  // on its way already
  }
  const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
  const QString label = QLatin1String(kFileChannelPrefix) + id;
  auto sender = std::make_unique<FileSender>(path, id, resumeKey, channelFor(label), reader_);
  FileSender* raw = sender.get();
  senders_[label] = std::move(sender);
  connect(raw, &FileSender::progressChanged, this, [this, raw, label] {
    const TransferProgress& p = raw->progress();
    if (p.state == TransferProgress::State::Failed && raw->resumable()) {
      return Q_EMIT transfersChanged();  // cut off: reset() decides
    }
    if (p.state != TransferProgress::State::Waiting && p.state != TransferProgress::State::Running) {
      log_(p.state == TransferProgress::State::Done
               ? QStringLiteral("📁 Fichier envoyé : %1").arg(p.name)
               : QStringLiteral("📁 Envoi de %1 arrêté : %2").arg(p.name, p.reason));
      return transferEnded(label, true, p);
    }
    Q_EMIT transfersChanged();  // last: a listener may end the session
  });
  queued_.push_back(label);
  startQueued();
  if (!senders_.count(label)) return false;
  Q_EMIT transfersChanged();
  return true;
}

void FeatureExchange::startQueued() {
  while (!queued_.empty() && going(true) - int(queued_.size()) < kMaxAtOnce) {
    const QString label = queued_.front();
    queued_.erase(queued_.begin());
    if (!negotiation_.openChannel(label)) senders_.erase(label);
  }
}

void FeatureExchange::fileChannelOpened(const QString& label) {
  if (const auto s = senders_.find(label); s != senders_.end()) {
    if (s->second->progress().state == TransferProgress::State::Waiting) s->second->start();
    return;
  }
  if (receivers_.count(label) || !common_ || !common_->files) return;
  // A peer opening channels in a loop gets no more than this many at once.
  if (int(receivers_.size()) >= 2 * kMaxAtOnce) return negotiation_.closeChannel(label);
  const int64_t maxBytes = settings_.value(kFileMaxKey, double(kDefaultFileMax)).toLongLong();
  auto receiver = std::make_unique<FileReceiver>(FileReceiver::Settings{receiveFolder_, maxBytes, room_, &reader_, {}},
                                                 channelFor(label));
  FileReceiver* raw = receiver.get();
  receivers_[label] = std::move(receiver);
  connect(raw, &FileReceiver::offered, this, [this, raw, label] {
    if (going(false) > kMaxAtOnce) {
      raw->decline(QStringLiteral("trop de fichiers à la fois"));
    } else if (acceptsFilesUnasked_) {
      raw->accept();
    } else if (isSignalConnected(QMetaMethod::fromSignal(&FeatureExchange::fileOffered))) {
      Q_EMIT fileOffered(label);
    } else {
      raw->decline(QStringLiteral("personne pour l’accepter"));  // nothing here asks a person
    }
  });
  connect(raw, &FileReceiver::progressChanged, this, [this, raw, label] {
    const TransferProgress& p = raw->progress();
    if (p.state != TransferProgress::State::Waiting && p.state != TransferProgress::State::Running) {
      log_(p.state == TransferProgress::State::Done
               ? QStringLiteral("📁 Fichier reçu : %1").arg(raw->savedPath())
               : QStringLiteral("📁 Réception de %1 arrêtée : %2").arg(p.name, p.reason));
      return transferEnded(label, false, p);
    }
    Q_EMIT transfersChanged();  // last: a listener may end the session
  });
  Q_EMIT transfersChanged();
}

int FeatureExchange::going(bool outgoing) const {
  const auto count = [](const auto& transfers) {
    return int(std::count_if(transfers.begin(), transfers.end(), [](const auto& entry) {
      const auto state = entry.second->progress().state;
      return state == TransferProgress::State::Waiting || state == TransferProgress::State::Running;
    }));
  };
  return outgoing ? count(senders_) : count(receivers_);
}

void FeatureExchange::transferEnded(const QString& label, bool outgoing, const TransferProgress& progress) {
  ended_.push_back({label, outgoing, progress});
  if (int(ended_.size()) > kMaxEndedRows) ended_.erase(ended_.begin());
  // The side that hears the last word closes the channel: a close drops
  // what the closing side has not sent yet. The one that said it waits,
  // and closes it itself if the other never does.
  if (progress.peerEnded) {
    negotiation_.closeChannel(label);
  } else {
    QTimer::singleShot(kCloseGraceMs, this, [this, label] { negotiation_.closeChannel(label); });
  }
  if (outgoing) {
    if (auto s = senders_.find(label); s != senders_.end()) {
      s->second.release()->deleteLater();  // later: this runs in one of its slots
      senders_.erase(s);
    }
  } else if (auto r = receivers_.find(label); r != receivers_.end()) {
    r->second.release()->deleteLater();
    receivers_.erase(r);
  }
  startQueued();
  Q_EMIT transfersChanged();  // last: a listener may end the session
}

void FeatureExchange::acceptFile(const QString& transfer) {
  LUNOR_REQUIRE_THREAD(this);
  if (const auto r = receivers_.find(transfer); r != receivers_.end()) r->second->accept();
}
void FeatureExchange::declineFile(const QString& transfer) {
  LUNOR_REQUIRE_THREAD(this);
  if (const auto r = receivers_.find(transfer); r != receivers_.end()) r->second->decline(QStringLiteral("refusé"));
}
void FeatureExchange::cancelFile(const QString& transfer) {
  LUNOR_REQUIRE_THREAD(this);
  if (const auto s = senders_.find(transfer); s != senders_.end()) {
    if (std::erase(queued_, transfer) > 0) {  // not begun: nothing to tell the peer
      TransferProgress progress = s->second->progress();
      progress.state = TransferProgress::State::Cancelled;
      return transferEnded(transfer, true, progress);
    }
    return s->second->cancel();
  }
  if (const auto r = receivers_.find(transfer); r != receivers_.end()) return r->second->cancel();
  const auto waiting = std::find_if(unfinished_.begin(), unfinished_.end(),
                                    [&](const Unfinished& file) { return file.label == transfer; });
  if (waiting == unfinished_.end()) return;
  TransferProgress progress = waiting->progress;
  unfinished_.erase(waiting);
  progress.state = TransferProgress::State::Cancelled;
  progress.reason = QStringLiteral("annulé");
  ended_.push_back({transfer, true, progress});
  if (int(ended_.size()) > kMaxEndedRows) ended_.erase(ended_.begin());
  Q_EMIT transfersChanged();
}

std::vector<FeatureExchange::Transfer> FeatureExchange::transfers() const {
  std::vector<Transfer> all = ended_;
  for (const auto& file : unfinished_) all.push_back({file.label, true, file.progress});
  for (const auto& [label, s] : senders_) all.push_back({label, true, s->progress()});
  for (const auto& [label, r] : receivers_) all.push_back({label, false, r->progress()});
  return all;
}

}  // namespace lunor
