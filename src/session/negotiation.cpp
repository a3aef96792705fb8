// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/negotiation.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include <QJsonDocument>

#include "protocol/control_message.h"
#include "protocol/password_proof.h"
#include "protocol/peer_features.h"
#include "protocol/signaling_messages.h"
#include "session/epoch.h"

namespace lunor {
namespace {

constexpr char kControlLabel[] = "control";

bool isUp(rtc::IceConnectionState state) {
  return state == rtc::IceConnectionState::Connected || state == rtc::IceConnectionState::Completed;
}

// `text` as a JSON object, if it mentions `marker` and is one. A cheap look
// first: the control channel carries every pointer move.
std::optional<QJsonObject> objectWith(const std::string& text, const char* marker) {
  if (text.find(marker) == std::string::npos) return std::nullopt;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text));
  if (!document.isObject()) return std::nullopt;
  return document.object();
}

}  // namespace

// Listens to one channel other than "control", handing its state and its
// messages to the main thread in order.
class Negotiation::ChannelTap final : public rtc::DataChannelObserver {
 public:
  ChannelTap(Negotiation& owner, Epoch::Ticket ticket, QString label, const rtc::DataChannel* channel)
      : owner_(owner), ticket_(std::move(ticket)), label_(std::move(label)), channel_(channel) {}
  const rtc::DataChannel* channel() const { return channel_; }

  void onStateChange(rtc::DataChannelState state) override {
    owner_.log_(QStringLiteral("🔗 '%1' state = %2").arg(label_).arg(static_cast<int>(state)));
    Negotiation* owner = &owner_;
    ticket_.post([owner, label = label_, state] { owner->extraChannelState(label, state); });
  }
  void onMessage(const std::string& data, bool binary) override {
    Negotiation* owner = &owner_;
    ticket_.post([owner, label = label_, bytes = QByteArray::fromStdString(data), binary] {
      Q_EMIT owner->channelMessage(label, bytes, binary);
    });
  }

 private:
  Negotiation& owner_;  // outlives the tap: its observer owns it
  const Epoch::Ticket ticket_;
  const QString label_;
  const rtc::DataChannel* channel_;  // the one it listens to, to find it by
};

// Receives one connection's events on the library's threads. Everything it
// hands on goes through its epoch ticket, except the control channel's text,
// which goes straight to the receiver so it keeps its order and its pace.
class Negotiation::Observer final : public rtc::PeerConnectionObserver,
                                    public rtc::DataChannelObserver {
 public:
  Observer(Negotiation& owner, Epoch::Ticket ticket, ControlReceiver receiver, std::vector<std::string> accepted,
           bool adoptsControl)
      : owner_(owner),
        ticket_(std::move(ticket)),
        receiver_(std::move(receiver)),
        accepted_(std::move(accepted)),
        adoptsControl_(adoptsControl) {}

  // Listens to `channel`, not "control", until detach().
  void watchExtra(const std::shared_ptr<rtc::DataChannel>& channel) {
    auto tap = std::make_unique<ChannelTap>(owner_, ticket_, QString::fromStdString(channel->label()), channel.get());
    ChannelTap* raw = tap.get();
    {
      std::lock_guard lock(mutex_);
      channels_.push_back(channel);
      taps_.push_back(std::move(tap));
    }
    channel->setObserver(raw);
  }

  // Stops listening to `channel`: no call of its tap is under way when
  // this returns. Main thread.
  void unwatch(const std::shared_ptr<rtc::DataChannel>& channel) {
    std::unique_ptr<ChannelTap> tap;
    {
      std::lock_guard lock(mutex_);
      const auto found = std::find(channels_.begin(), channels_.end(), channel);
      if (found == channels_.end()) return;
      channels_.erase(found);
      for (auto t = taps_.begin(); t != taps_.end(); ++t) {
        if ((*t)->channel() == channel.get()) {
          tap = std::move(*t);
          taps_.erase(t);
          break;
        }
      }
    }
    channel->setObserver(nullptr);  // waits for a call in flight; the tap goes after it
  }

  // Listens to `channel` until detach().
  void watch(const std::shared_ptr<rtc::DataChannel>& channel) {
    {
      std::lock_guard lock(mutex_);
      channels_.push_back(channel);
    }
    channel->setObserver(this);
  }

  // Main thread, once the connection's own observer is cleared: no channel
  // calls this observer any more when it returns.
  void detach() {
    std::vector<std::shared_ptr<rtc::DataChannel>> channels;
    {
      std::lock_guard lock(mutex_);
      channels.swap(channels_);
    }
    for (auto& channel : channels) channel->setObserver(nullptr);  // waits for a call in flight
  }

  void onIceConnectionChange(rtc::IceConnectionState state) override {
    Negotiation* owner = &owner_;
    ticket_.post([owner, state] { Q_EMIT owner->iceStateChanged(state); });
  }

  void onIceCandidate(const rtc::IceCandidate& candidate) override {
    Negotiation* owner = &owner_;
    ticket_.post([owner, candidate] { Q_EMIT owner->localCandidate(candidate); });
  }

  void onVideoTrack(std::shared_ptr<rtc::VideoTrack> track) override {
    // Names the other side chose: fit to show on a terminal.
    owner_.log_(QStringLiteral("🎥 Track vidéo distante reçue (id=") +
                peerText(QString::fromStdString(track->trackId()), kMaxPeerNameChars) + QLatin1Char(')'));
    Negotiation* owner = &owner_;
    ticket_.post([owner, track] { Q_EMIT owner->remoteVideoTrack(track); });
  }

  void onDataChannel(std::shared_ptr<rtc::DataChannel> channel) override {
    const std::string label = channel->label();
    owner_.log_(QStringLiteral("🔗 DataChannel reçu: ") + peerText(QString::fromStdString(label), kMaxPeerNameChars));
    Negotiation* owner = &owner_;
    if (label == kControlLabel) {
      if (!adoptsControl_) return;  // ours is the only one
      watch(channel);  // here, so no message slips past before the adoption
      ticket_.post([owner, channel] { owner->adopt(channel); });
    } else if (std::any_of(accepted_.begin(), accepted_.end(), [&](const std::string& accepted) {
                 // "file:" stands for every label that starts with it
                 return label == accepted || (accepted.back() == ':' && label.rfind(accepted, 0) == 0);
               })) {
      watchExtra(channel);
      ticket_.post([owner, channel] { owner->adoptExtra(channel); });
    }
  }

  void onStateChange(rtc::DataChannelState state) override {
    owner_.log_(QStringLiteral("🔗 'control' state = %1").arg(static_cast<int>(state)));
    if (state != rtc::DataChannelState::Open) return;
    Negotiation* owner = &owner_;
    ticket_.post([owner] { owner->controlOpened(); });
  }

  void onMessage(const std::string& data, bool binary) override {
    if (binary) return;
    if (data == kPictureShownMessage) {
      Negotiation* owner = &owner_;
      ticket_.post([owner] { Q_EMIT owner->peerShowsPicture(); });
      return;
    }
    if (const auto object = objectWith(data, "features")) {
      if (const auto features = decodePeerFeatures(*object)) {
        Negotiation* owner = &owner_;
        ticket_.post([owner, features = *features] { Q_EMIT owner->peerFeaturesReceived(features); });
        return;
      }
    }
    if (const auto object = objectWith(data, "screenSize")) {
      if (const auto size = decodeScreenSizeRequest(*object)) {
        Negotiation* owner = &owner_;
        ticket_.post([owner, size = *size] { Q_EMIT owner->peerAsksScreenSize(size); });
        return;
      }
    }
    if (receiver_) receiver_(data, ticket_);
  }

 private:
  Negotiation& owner_;  // outlives the observer: it owns it
  const Epoch::Ticket ticket_;
  const ControlReceiver receiver_;
  const std::vector<std::string> accepted_;
  const bool adoptsControl_;
  std::mutex mutex_;  // guards channels_ and taps_; never held while calling a channel
  std::vector<std::shared_ptr<rtc::DataChannel>> channels_;
  std::vector<std::unique_ptr<ChannelTap>> taps_;  // live until the observer goes
};

Negotiation::Negotiation(Epoch& epoch, Clock& clock, Log log, QObject* parent)
    : QObject(parent),
      epoch_(epoch),
      log_(std::move(log)),
      iceCheck_(clock,
                [this] {
                  if (!connection_ || connected()) return;
                  log_(QStringLiteral("⏰ TIMEOUT ICE (10s): État=%1").arg(static_cast<int>(iceState())));
                }),
      connectDeadline_(clock, [this] {
        if (connection_ && !connected()) Q_EMIT connectDeadlinePassed();
      }) {
  iceCheck_.setSingleShot(true);
  iceCheck_.setInterval(kIceCheckMs);
  connectDeadline_.setSingleShot(true);
  connectDeadline_.setInterval(kConnectDeadlineMs);
}

Negotiation::~Negotiation() { close(); }

bool Negotiation::create(rtc::PeerConnectionFactory& factory, const rtc::Configuration& configuration,
                         ControlReceiver receiver) {
  close();
  rtc::MediaConstraints constraints;
  constraints.optional["DtlsSrtpKeyAgreement"] = "true";
  auto observer = std::make_shared<Observer>(*this, epoch_.ticket(), std::move(receiver), acceptedChannels_,
                                             adoptsPeerControl_);
  auto connection = factory.createPeerConnection(configuration, constraints, observer.get());
  if (!connection) return false;
  observer_ = std::move(observer);
  connection_ = std::move(connection);
  iceCheck_.start();
  return true;
}

void Negotiation::close() {
  epoch_.renew();
  iceCheck_.stop();
  connectDeadline_.stop();
  offered_ = false;
  answerPending_ = false;
  pendingRestart_ = nullptr;
  pendingIceRestart_ = false;
  controlOpenSaid_ = false;
  localFingerprint_.clear();
  remoteFingerprint_.clear();
  senderBitrates_.clear();
  auto connection = std::exchange(connection_, nullptr);
  auto observer = std::exchange(observer_, nullptr);
  controlChannel_.reset();
  extraChannels_.clear();
  // The connection's observer first: no new channel arrives after this.
  if (connection) connection->setObserver(nullptr);
  if (observer) observer->detach();
  if (connection) connection->close();
}

rtc::IceConnectionState Negotiation::iceState() const {
  return connection_ ? connection_->iceConnectionState() : rtc::IceConnectionState::New;
}

bool Negotiation::connected() const { return isUp(iceState()); }

// ------------------------------------------------------------------ channel --

bool Negotiation::createControlChannel() {
  if (!connection_) return false;
  auto channel = connection_->createDataChannel(kControlLabel, /*ordered=*/true);
  if (!channel) return false;
  observer_->watch(channel);
  // Over an association that is up (a channel made after the connection)
  // it may be open before the watch began: then only its state says so.
  const bool open = channel->state() == rtc::DataChannelState::Open;
  controlChannel_ = std::move(channel);
  if (open) controlOpened();
  return true;
}

void Negotiation::controlOpened() {
  if (std::exchange(controlOpenSaid_, true)) return;
  Q_EMIT controlChannelOpened();
}

void Negotiation::adopt(std::shared_ptr<rtc::DataChannel> channel) {
  controlChannel_ = std::move(channel);
  Q_EMIT controlChannelAdopted();
}

bool Negotiation::openChannel(const QString& label) {
  if (!connection_ || extraChannels_.count(label)) return false;
  auto channel = connection_->createDataChannel(label.toStdString(), /*ordered=*/true);
  if (!channel) return false;
  observer_->watchExtra(channel);
  // Over an association that is up the channel may open before the watch
  // began: then its state says so, and only it.
  const bool open = channel->state() == rtc::DataChannelState::Open;
  extraChannels_[label] = std::move(channel);
  if (open) Q_EMIT channelOpened(label);
  return true;
}

void Negotiation::adoptExtra(std::shared_ptr<rtc::DataChannel> channel) {
  const QString label = QString::fromStdString(channel->label());
  if (extraChannels_.count(label)) return;  // one of a label: the first stays
  const bool open = channel->state() == rtc::DataChannelState::Open;
  extraChannels_[label] = std::move(channel);
  if (open) Q_EMIT channelOpened(label);
}

void Negotiation::extraChannelState(const QString& label, rtc::DataChannelState state) {
  if (!extraChannels_.count(label)) return;  // announced before its adoption: adoptExtra() tells
  if (state == rtc::DataChannelState::Open) Q_EMIT channelOpened(label);
  if (state == rtc::DataChannelState::Closed) Q_EMIT channelClosed(label);
}

void Negotiation::closeChannel(const QString& label) {
  const auto found = extraChannels_.find(label);
  if (found == extraChannels_.end()) return;
  const std::shared_ptr<rtc::DataChannel> channel = std::move(found->second);
  extraChannels_.erase(found);
  if (observer_) observer_->unwatch(channel);
  channel->close();
}

bool Negotiation::sendOn(const QString& label, const QByteArray& data, bool binary) {
  const auto found = extraChannels_.find(label);
  if (found == extraChannels_.end() || found->second->state() != rtc::DataChannelState::Open) return false;
  return found->second->send(data.toStdString(), binary);
}

uint64_t Negotiation::bufferedAmount(const QString& label) const {
  const auto found = extraChannels_.find(label);
  return found == extraChannels_.end() ? 0 : found->second->bufferedAmount();
}

bool Negotiation::isControlChannelOpen() const {
  return controlChannel_ && controlChannel_->state() == rtc::DataChannelState::Open;
}

bool Negotiation::sendControl(const QByteArray& text) {
  if (!isControlChannelOpen()) return false;
  return controlChannel_->send(text.toStdString(), /*binary=*/false);
}

// -------------------------------------------------------------------- media --

bool Negotiation::isSending(const rtc::VideoTrack& track) const {
  if (!connection_) return false;
  const std::string id = track.trackId();
  for (const auto& sender : connection_->senders()) {
    if (sender->trackId() == id) return true;
  }
  return false;
}

bool Negotiation::addTrack(std::shared_ptr<rtc::VideoTrack> track, const std::string& streamId) {
  if (!connection_ || !track || isSending(*track)) return false;
  if (!connection_->addTrack(track, {streamId})) return false;
  connection_->preferVideoCodec("H264");
  return true;
}

void Negotiation::setSenderBitrate(const rtc::VideoTrack& track, int minBps, int maxBps) {
  if (!connection_) return;
  senderBitrates_[track.trackId()] = {minBps, maxBps};
  applySenderBitrates();
}

void Negotiation::applySenderBitrates() {
  if (!connection_) return;
  for (const auto& sender : connection_->senders()) {
    const auto limits = senderBitrates_.find(sender->trackId());
    if (limits == senderBitrates_.end()) continue;
    // A sender has its encodings once a description is set, and takes no
    // other count of them: until then, the limits wait.
    std::vector<rtc::RtpEncoding> encodings = sender->encodings();
    if (encodings.empty()) continue;
    for (auto& encoding : encodings) {
      encoding.minBitrateBps = limits->second.first;
      encoding.maxBitrateBps = limits->second.second;
    }
    if (const rtc::Error error = sender->setEncodings(encodings); !error.ok()) {
      log_(QStringLiteral("⚠️ Débit du flux non appliqué: ") + QString::fromStdString(error.message));
    }
  }
}

void Negotiation::setBitrateRange(int minBps, int startBps, int maxBps) {
  if (connection_) connection_->setBitrateRange(minBps, startBps, maxBps);
}

// ----------------------------------------------------------- offer, answer --

void Negotiation::setLocal(rtc::SessionDescription description) {
  if (!connection_) return;
  const Epoch::Ticket ticket = epoch_.ticket();
  connection_->setLocalDescription(description, [this, ticket, description](rtc::Error error) {
    if (!error.ok()) return;
    ticket.post([this, description] {
      applySenderBitrates();
      localFingerprint_ = proof::sdpFingerprint(description.sdp);
      Q_EMIT descriptionReady(description);
    });
  });
}

void Negotiation::makeOffer(OfferRewrite rewrite) {
  if (!connection_) return;
  offered_ = true;
  answerPending_ = true;
  rtc::MediaConstraints constraints;
  constraints.mandatory = {{"OfferToReceiveVideo", "false"}, {"OfferToReceiveAudio", "false"}};
  const Epoch::Ticket ticket = epoch_.ticket();
  connection_->createOffer(constraints, [this, ticket, rewrite = std::move(rewrite)](
                                            std::optional<rtc::SessionDescription> offer, rtc::Error error) {
    if (!error.ok() || !offer) return;
    ticket.post([this, rewrite, sdp = std::move(offer->sdp)] {
      setLocal({rtc::SdpType::Offer, rewrite ? rewrite(sdp) : sdp});
    });
  });
}

void Negotiation::restartIce(OfferRewrite rewrite) {
  if (!connection_ || !offered_) return;
  pendingRestart_ = std::move(rewrite);
  pendingIceRestart_ = true;
  if (!answerPending_) startRestart();
}

void Negotiation::renegotiate(OfferRewrite rewrite) {
  if (!connection_ || !offered_) return;
  pendingRestart_ = std::move(rewrite);  // a restart already waiting keeps its fresh credentials
  if (!answerPending_) startRestart();
}

void Negotiation::startRestart() {
  OfferRewrite rewrite = std::exchange(pendingRestart_, nullptr);
  if (!rewrite || !connection_) return;
  if (std::exchange(pendingIceRestart_, false)) connection_->restartIce();
  makeOffer(std::move(rewrite));
}

bool Negotiation::fromExpectedPeer(const std::string& sdp) {
  if (expectedRemote_.isEmpty() || proof::sdpFingerprint(sdp) == expectedRemote_) return true;
  Q_EMIT remoteFingerprintRefused();
  return false;
}

void Negotiation::acceptAnswer(const std::string& sdp) {
  if (!connection_ || !fromExpectedPeer(sdp)) return;
  const Epoch::Ticket ticket = epoch_.ticket();
  connection_->setRemoteDescription({rtc::SdpType::Answer, sdp}, [this, ticket, sdp](rtc::Error error) {
    ticket.post([this, ok = error.ok(), sdp, message = QString::fromStdString(error.message)] {
      if (ok) remoteFingerprint_ = proof::sdpFingerprint(sdp);
      answerPending_ = false;
      Q_EMIT answerApplied(message);
      if (pendingRestart_) startRestart();
    });
  });
}

void Negotiation::answerOffer(const std::string& sdp) {
  if (!connection_ || !fromExpectedPeer(sdp)) return;
  const Epoch::Ticket ticket = epoch_.ticket();
  connection_->setRemoteDescription({rtc::SdpType::Offer, sdp}, [this, ticket, sdp](rtc::Error error) {
    if (!error.ok()) return;
    ticket.post([this, ticket, sdp] {
      remoteFingerprint_ = proof::sdpFingerprint(sdp);
      rtc::MediaConstraints constraints;
      constraints.mandatory = {{"OfferToReceiveVideo", "true"}, {"OfferToReceiveAudio", "false"}};
      connection_->createAnswer(constraints, [this, ticket](std::optional<rtc::SessionDescription> answer,
                                                            rtc::Error e) {
        if (!e.ok() || !answer) return;
        ticket.post([this, answer = std::move(*answer)] { setLocal(answer); });
      });
    });
  });
}

bool Negotiation::setIceServers(const std::vector<rtc::IceServer>& servers) {
  if (!connection_) return false;
  const rtc::Error error = connection_->setIceServers(servers);
  if (!error.ok()) log_(QStringLiteral("⚠️ Serveurs ICE refusés: ") + QString::fromStdString(error.message));
  return error.ok();
}

void Negotiation::restartIceLocally() {
  if (connection_) connection_->restartIce();
}

void Negotiation::addRemoteCandidate(const rtc::IceCandidate& candidate) {
  if (!connection_) return;
  const Epoch::Ticket ticket = epoch_.ticket();
  connection_->addIceCandidate(candidate, [this, ticket](rtc::Error error) {
    if (error.ok()) return;
    ticket.post([this, message = QString::fromStdString(error.message)] {
      log_(QStringLiteral("❌ addIceCandidate: ") + message);
    });
  });
}

void Negotiation::collectStats(std::function<void(const rtc::ConnectionStats&)> done) {
  if (!connection_ || !done) return;
  const Epoch::Ticket ticket = epoch_.ticket();
  connection_->getStats([ticket, done = std::move(done)](rtc::ConnectionStats stats) {
    ticket.post([done, stats = std::move(stats)] { done(stats); });
  });
}

void Negotiation::armConnectDeadline() {
  if (connection_ && !connectDeadline_.isActive()) connectDeadline_.start(kConnectDeadlineMs);
}

void Negotiation::armConnectDeadline(int ms) {
  if (connection_) connectDeadline_.start(ms);
}

}  // namespace lunor
