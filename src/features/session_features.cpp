// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/session_features.h"

#include <algorithm>

#include <QFileInfo>

#include "features/transfer_text.h"
#include "session/session_environment.h"
#include "session/session_panels.h"
#include "session/session_types.h"

namespace lunor {

SessionFeatures::SessionFeatures(Negotiation& negotiation, SessionEnvironment& environment, Log log,
                                 Requester requester, QObject* parent)
    : QObject(parent),
      environment_(environment),
      log_(std::move(log)),
      requester_(std::move(requester)),
      exchange_(negotiation, environment.clipboard(), environment.settings(), log_) {
  connect(&exchange_, &FeatureExchange::commonChanged, this, &SessionFeatures::clipboardChanged);
  connect(&exchange_.clipboard(), &ClipboardSync::switchesChanged, this, &SessionFeatures::clipboardChanged);
  refresh_.setSingleShot(true);
  refresh_.setInterval(250);
  connect(&refresh_, &QTimer::timeout, this, &SessionFeatures::refreshTransfers);
  connect(&exchange_, &FeatureExchange::transfersChanged, this, [this] {
    if (!refresh_.isActive()) refresh_.start();
  });
  // Files a client sends to an attended host wait for its person (the
  // panels decline them where there is nobody to ask).
  connect(&exchange_, &FeatureExchange::fileOffered, this, [this](const QString& transfer) {
    pendingOffers_ << transfer;
    if (askedOffer_.isEmpty()) askNextOffer();
  });
}

SessionFeatures& SessionFeatures::of(ConnectionFeatures& connectionFeatures) {
  auto* features = dynamic_cast<SessionFeatures*>(&connectionFeatures);
  Q_ASSERT(features);
  return *features;
}

void SessionFeatures::roleChosen(Role role) {
  exchange_.reset(Cut::Ended);
  host_ = role == Role::Host;
  exchange_.setOpensChannels(host_);
  // A client takes what its host sends; a host asks its person, unless the
  // session was let in unattended (HostRole says so).
  exchange_.setAcceptsFilesUnasked(!host_);
}

void SessionFeatures::connectionMade(Role role, const QString& room) {
  exchange_.reset(Cut::Replaced);
  // A client's files cut off with a connection go on with the same host.
  exchange_.setPeerKey(role == Role::Client ? room : QString());
  exchange_.setRoom(room);
}

bool SessionFeatures::separateSession() const {
  const auto common = exchange_.common();
  return common && common->separateSession;
}

bool SessionFeatures::clipboardShared() const {
  const auto common = exchange_.common();
  return common && common->clipboard;
}

bool SessionFeatures::filesShared() const {
  const auto common = exchange_.common();
  return common && common->files;
}

void SessionFeatures::sendFiles(const QList<QUrl>& urls) {
  for (const QUrl& url : urls) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
      log_(QStringLiteral("📁 Pas un fichier de cet ordinateur : %1").arg(url.toDisplayString()));
    } else if (!exchange_.sendFile(path)) {
      log_(QStringLiteral("📁 L’autre ordinateur ne prend pas de fichiers : %1").arg(QFileInfo(path).fileName()));
    }
  }
}

void SessionFeatures::refreshTransfers() {
  const auto transfers = exchange_.transfers();
  rows_ = transferRows(transfers);
  Q_EMIT transfersChanged();
  if (host_) environment_.panels().showTransfers(rows_);
  // An offer decided elsewhere, or gone with its connection, is asked no more.
  const auto waiting = [&](const QString& id) {
    return std::any_of(transfers.begin(), transfers.end(), [&](const auto& t) {
      return t.id == id && !t.outgoing && t.progress.state == TransferProgress::State::Waiting;
    });
  };
  pendingOffers_.removeIf([&](const QString& id) { return !waiting(id); });
  if (!askedOffer_.isEmpty() && !waiting(askedOffer_)) {
    askedOffer_.clear();
    environment_.panels().dismissFileOffer();
    askNextOffer();
  }
}

void SessionFeatures::askNextOffer() {
  askedOffer_.clear();
  if (pendingOffers_.isEmpty()) return;
  const QString id = pendingOffers_.takeFirst();
  const auto transfers = exchange_.transfers();
  const auto it = std::find_if(transfers.begin(), transfers.end(), [&](const auto& t) { return t.id == id; });
  if (it == transfers.end()) return askNextOffer();
  askedOffer_ = id;
  FileOfferPrompt prompt;
  prompt.from = requester_ ? requester_() : QString();
  prompt.name = it->progress.name;
  prompt.size = byteSizeText(it->progress.size);
  // Each answer is for its own file: a later one does not take it.
  const auto answer = [this, id](bool take) {
    if (askedOffer_ != id) return;
    askedOffer_.clear();
    if (take) {
      exchange_.acceptFile(id);
    } else {
      exchange_.declineFile(id);
    }
    environment_.panels().dismissFileOffer();
    askNextOffer();
  };
  prompt.accept = [answer] { answer(true); };
  prompt.decline = [answer] { answer(false); };
  environment_.panels().showFileOffer(prompt);
}

}  // namespace lunor
