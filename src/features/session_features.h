// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A session's features beyond the picture and the input, as the screens and
// the roles see them: the feature exchange (files, the clipboard) over the
// session's connection, the clipboard's switches, the transfers as rows for
// the windows, and the host person's answers to the files a client sends.
// Main thread.

#include <functional>

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariantList>

#include "features/feature_exchange.h"
#include "session/connection_features.h"

namespace lunor {

class SessionEnvironment;

class SessionFeatures final : public QObject, public ConnectionFeatures {
  Q_OBJECT
  Q_PROPERTY(bool clipboardShared READ clipboardShared NOTIFY clipboardChanged)
  Q_PROPERTY(bool clipboardSending READ clipboardSending WRITE setClipboardSending NOTIFY clipboardChanged)
  Q_PROPERTY(bool clipboardReceiving READ clipboardReceiving WRITE setClipboardReceiving NOTIFY clipboardChanged)
  Q_PROPERTY(bool filesShared READ filesShared NOTIFY clipboardChanged)
  // The host shares a desktop of its own, not its physical screen.
  Q_PROPERTY(bool separateSession READ separateSession NOTIFY clipboardChanged)
  Q_PROPERTY(QVariantList transfers READ transfers NOTIFY transfersChanged)

 public:
  using Log = std::function<void(const QString& line)>;
  // The person a host's file offers come from, as the panel names them.
  using Requester = std::function<QString()>;

  // Everything borrowed must outlive the features.
  SessionFeatures(Negotiation& negotiation, SessionEnvironment& environment, Log log, Requester requester,
                  QObject* parent = nullptr);

  // A session's features as this layer knows them (the environment makes
  // every session's a SessionFeatures).
  static SessionFeatures& of(ConnectionFeatures& features);

  FeatureExchange& exchange() { return exchange_; }
  ClipboardSync& clipboard() { return exchange_.clipboard(); }

  bool clipboardShared() const;
  bool separateSession() const;
  bool clipboardSending() const { return exchange_.clipboard().sending(); }
  bool clipboardReceiving() const { return exchange_.clipboard().receiving(); }
  void setClipboardSending(bool on) { exchange_.clipboard().setSending(on); }
  void setClipboardReceiving(bool on) { exchange_.clipboard().setReceiving(on); }
  bool filesShared() const;
  // The transfers as rows (transferRows), refreshed a few times a second at most.
  QVariantList transfers() const { return rows_; }
  // Sends the local files among urls; the others are said in the log.
  Q_INVOKABLE void sendFiles(const QList<QUrl>& urls);
  Q_INVOKABLE void cancelFile(const QString& transfer) { exchange_.cancelFile(transfer); }

  void roleChosen(Role role) override;
  void connectionMade(Role role, const QString& room) override;
  void connectionEnding(Cut cut) override { exchange_.reset(cut); }
  QObject* object() override { return this; }

 Q_SIGNALS:
  void clipboardChanged();
  void transfersChanged();

 private:
  void refreshTransfers();
  // Asks the host's person about the next file waiting, if any.
  void askNextOffer();

  SessionEnvironment& environment_;
  Log log_;
  Requester requester_;
  FeatureExchange exchange_;
  bool host_ = false;
  QTimer refresh_;  // coalesces the transfers' progress for the windows
  QVariantList rows_;
  QStringList pendingOffers_;  // files waiting for the host's person, the first one asked
  QString askedOffer_;
};

}  // namespace lunor
