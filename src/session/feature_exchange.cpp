#include "session/feature_exchange.h"

#include <QSettings>

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
  negotiation_.setAcceptedChannels({kClipboardLabel});
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
  log_(QStringLiteral("🧩 Fonctions communes : %1").arg(common_->clipboard ? QStringLiteral("presse-papiers") : QStringLiteral("aucune")));
  if (common_->clipboard && opensChannels_ && !negotiation_.openChannel(kClipboardLabel)) {
    log_(QStringLiteral("❌ Impossible de créer le DataChannel 'clipboard'"));
  }
}

void FeatureExchange::channelOpened(const QString& label) {
  if (label != QLatin1String(kClipboardLabel) || !common_ || !common_->clipboard || clipboard_.running()) return;
  clipboard_.start(*common_, [this](std::vector<WireMessage> messages) {
    clipboardPump_.clear();  // a newer content replaces one still on its way
    clipboardPump_.push(std::move(messages));
  });
}

void FeatureExchange::channelClosed(const QString& label) {
  if (label != QLatin1String(kClipboardLabel)) return;
  clipboard_.stop();
  clipboardPump_.clear();
}

void FeatureExchange::channelMessage(const QString& label, const QByteArray& data, bool binary) {
  if (label == QLatin1String(kClipboardLabel)) clipboard_.receive(data, binary);
}

}  // namespace lunor
