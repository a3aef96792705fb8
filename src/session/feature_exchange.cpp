// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/feature_exchange.h"

#include <cstring>
#include <utility>

#include <QDir>
#include <QMetaMethod>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
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
  negotiation_.setAcceptedChannels({kClipboardLabel, kFileChannelPrefix});
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

void FeatureExchange::reset() {
  clipboard_.stop();
  clipboardPump_.clear();
  // What was received stays on disk for the same file offered again; what
  // was being sent is offered again on the next connection to the same peer.
  for (auto& [label, receiver] : receivers_) receiver->interrupt();
  if (!peerKey_.isEmpty()) {
    if (unfinished_.first != peerKey_) unfinished_ = {peerKey_, {}};
    for (auto& [label, sender] : senders_) {
      if (sender->resumable() && !unfinished_.second.contains(sender->path())) unfinished_.second << sender->path();
    }
  }
  const bool hadTransfers = !senders_.empty() || !receivers_.empty();
  // Later: a reset may come from a slot of one of their own signals.
  for (auto& [label, sender] : senders_) sender.release()->deleteLater();
  for (auto& [label, receiver] : receivers_) receiver.release()->deleteLater();
  senders_.clear();
  receivers_.clear();
  if (hadTransfers) Q_EMIT transfersChanged();
  if (common_) {
    common_.reset();
    Q_EMIT commonChanged();
  }
}

void FeatureExchange::controlOpened() { negotiation_.sendControl(encodePeerFeatures(ourFeatures())); }

void FeatureExchange::peerAnnounced(const PeerFeatures& theirs) {
  if (common_) return;  // once a connection
  common_ = commonFeatures(ourFeatures(), theirs);
  Q_EMIT commonChanged();
  QStringList shared;
  if (common_->clipboard) shared << QStringLiteral("presse-papiers");
  if (common_->files) shared << QStringLiteral("fichiers");
  log_(QStringLiteral("🧩 Fonctions communes : %1").arg(shared.isEmpty() ? QStringLiteral("aucune") : shared.join(QStringLiteral(", "))));
  if (common_->clipboard && opensChannels_ && !negotiation_.openChannel(kClipboardLabel)) {
    log_(QStringLiteral("❌ Impossible de créer le DataChannel 'clipboard'"));
  }
  // Files cut off with the last connection to this peer go on.
  const auto [key, paths] = std::exchange(unfinished_, {});
  if (common_->files && !peerKey_.isEmpty() && key == peerKey_) {
    for (const QString& path : paths) {
      log_(QStringLiteral("📁 Reprise de l’envoi de %1").arg(QFileInfo(path).fileName()));
      sendFile(path);
    }
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
  if (const auto r = receivers_.find(label); r != receivers_.end()) r->second->interrupt();
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
  if (!common_ || !common_->files || !QFileInfo(path).isFile()) return false;
  for (const auto& [label, sender] : senders_) {
    const auto state = sender->progress().state;
    const bool going = state == TransferProgress::State::Waiting || state == TransferProgress::State::Running;
    if (going && QFileInfo(sender->path()) == QFileInfo(path)) return true;  // on its way already
  }
  // The receiver knows a file it holds part of by its content: offered
  // again, under any id, it goes on from there.
  const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
  const QString label = QLatin1String(kFileChannelPrefix) + id;
  auto sender = std::make_unique<FileSender>(path, id, channelFor(label));
  FileSender* raw = sender.get();
  senders_[label] = std::move(sender);
  connect(raw, &FileSender::progressChanged, this, [this, raw, logged = false]() mutable {
    const TransferProgress& p = raw->progress();
    if (!logged && p.state != TransferProgress::State::Waiting && p.state != TransferProgress::State::Running) {
      logged = true;
      log_(p.state == TransferProgress::State::Done
               ? QStringLiteral("📁 Fichier envoyé : %1").arg(p.name)
               : QStringLiteral("📁 Envoi de %1 arrêté : %2").arg(p.name, p.reason));
    }
    Q_EMIT transfersChanged();  // last: a listener may end the session
  });
  if (!negotiation_.openChannel(label)) {
    senders_.erase(label);
    return false;
  }
  Q_EMIT transfersChanged();
  return true;
}

void FeatureExchange::fileChannelOpened(const QString& label) {
  if (const auto s = senders_.find(label); s != senders_.end()) {
    if (s->second->progress().state == TransferProgress::State::Waiting) s->second->start();
    return;
  }
  if (receivers_.count(label) || !common_ || !common_->files) return;
  const int64_t maxBytes = settings_.value(kFileMaxKey, double(kDefaultFileMax)).toLongLong();
  auto receiver = std::make_unique<FileReceiver>(FileReceiver::Settings{receiveFolder_, maxBytes, {}}, channelFor(label));
  FileReceiver* raw = receiver.get();
  receivers_[label] = std::move(receiver);
  connect(raw, &FileReceiver::offered, this, [this, raw, label] {
    if (acceptsFilesUnasked_) {
      raw->accept();
    } else if (isSignalConnected(QMetaMethod::fromSignal(&FeatureExchange::fileOffered))) {
      Q_EMIT fileOffered(label);
    } else {
      raw->decline(QStringLiteral("personne pour l’accepter"));  // nothing here asks a person
    }
  });
  connect(raw, &FileReceiver::progressChanged, this, [this, raw, logged = false]() mutable {
    const TransferProgress& p = raw->progress();
    if (!logged && p.state != TransferProgress::State::Waiting && p.state != TransferProgress::State::Running) {
      logged = true;
      log_(p.state == TransferProgress::State::Done
               ? QStringLiteral("📁 Fichier reçu : %1").arg(raw->savedPath())
               : QStringLiteral("📁 Réception de %1 arrêtée : %2").arg(p.name, p.reason));
    }
    Q_EMIT transfersChanged();  // last: a listener may end the session
  });
  Q_EMIT transfersChanged();
}

void FeatureExchange::acceptFile(const QString& transfer) {
  if (const auto r = receivers_.find(transfer); r != receivers_.end()) r->second->accept();
}
void FeatureExchange::declineFile(const QString& transfer) {
  if (const auto r = receivers_.find(transfer); r != receivers_.end()) r->second->decline(QStringLiteral("refusé"));
}
void FeatureExchange::cancelFile(const QString& transfer) {
  if (const auto s = senders_.find(transfer); s != senders_.end()) s->second->cancel();
  if (const auto r = receivers_.find(transfer); r != receivers_.end()) r->second->cancel();
}

std::vector<FeatureExchange::Transfer> FeatureExchange::transfers() const {
  std::vector<Transfer> all;
  for (const auto& [label, s] : senders_) all.push_back({label, true, s->progress()});
  for (const auto& [label, r] : receivers_) all.push_back({label, false, r->progress()});
  return all;
}

}  // namespace lunor
