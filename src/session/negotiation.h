// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The peer connection of one session and its "control" channel: creation,
// offer and answer, candidates, ICE restart, and the timers that watch the
// connection come up. Library events reach the main thread through the
// session's epoch, so events of a connection that has since been closed or
// replaced change nothing. Nothing here holds a lock of ours while it calls
// into the library. Main thread, apart from the control receiver.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "protocol/peer_features.h"
#include "rtc/peer_connection.h"
#include "session/clock.h"
#include "session/epoch.h"

namespace lunor {


class Negotiation final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kIceCheckMs = 10'000;
  static constexpr int kConnectDeadlineMs = 15'000;

  // Gets the text of every message of the "control" channel, on a library
  // thread, in arrival order, with the epoch of the connection it came on.
  // Must be quick and thread-safe.
  using ControlReceiver = std::function<void(const std::string& text, const Epoch::Ticket& connection)>;
  // Turns the library's offer into the one that leaves; main thread.
  using OfferRewrite = std::function<std::string(const std::string& sdp)>;
  // Any thread.
  using Log = std::function<void(const QString& line)>;

  // epoch is borrowed and must outlive the negotiation.
  // Both borrowed: they outlive the negotiation.
  Negotiation(Epoch& epoch, Clock& clock, Log log, QObject* parent = nullptr);
  ~Negotiation() override;

  // Closes any previous connection, then asks the factory for a new one.
  // False when the library refuses. Starts the 10-second ICE check.
  bool create(rtc::PeerConnectionFactory& factory, const rtc::Configuration& configuration,
              ControlReceiver receiver);
  // Closes the connection and its channels and renews the epoch, even when
  // there is no connection: later events of the old one are dropped.
  void close();
  bool exists() const { return connection_ != nullptr; }
  // The connection's ICE state; New without a connection.
  rtc::IceConnectionState iceState() const;

  // Host: makes the ordered channel "control".
  bool createControlChannel();
  bool isControlChannelOpen() const;
  // Sends one text message on the open "control" channel.
  bool sendControl(const QByteArray& text);

  // Channels beyond "control", opened by either side for a feature both
  // announced. Labels the peer may open ("x:" for every label that starts
  // with it); for the connections created after.
  void acceptChannel(std::string label) { acceptedChannels_.push_back(std::move(label)); }
  // Makes an ordered channel `label` (false without a connection, or when
  // one of that label exists); channelOpened() follows (at least once).
  bool openChannel(const QString& label);
  // Closes the channel `label` (after what was sent on it) and forgets it;
  // nothing more of it is heard.
  void closeChannel(const QString& label);
  // False when the channel is not open or refused the message.
  bool sendOn(const QString& label, const QByteArray& data, bool binary);
  // Bytes waiting in the channel's buffer (0 without the channel).
  uint64_t bufferedAmount(const QString& label) const;

  // Host: sends `track` on the connection (H264 first) unless it already is.
  bool addTrack(std::shared_ptr<rtc::VideoTrack> track, const std::string& streamId);
  bool isSending(const rtc::VideoTrack& track) const;
  // Bitrate limits of the sender of `track`, in bits per second (from the
  // local description on, when it is not set yet).
  void setSenderBitrate(const rtc::VideoTrack& track, int minBps, int maxBps);
  // Bandwidth estimation bounds of the whole connection.
  void setBitrateRange(int minBps, int startBps, int maxBps);

  // Host: an offer, rewritten, set locally, then descriptionReady.
  void makeOffer(OfferRewrite rewrite);
  // Host: a new offer with fresh ICE credentials, once any offer in flight
  // has its answer. Nothing before the first offer, which has fresh ones.
  void restartIce(OfferRewrite rewrite);
  // Host: a new offer for what changed since the last (a track added), once
  // any offer in flight has its answer; the ICE credentials stay.
  void renegotiate(OfferRewrite rewrite);
  // The DTLS certificates' fingerprints as the descriptions set on this
  // connection carry them ("sha-256 AB:…"); empty until there is one.
  const QByteArray& localFingerprint() const { return localFingerprint_; }
  const QByteArray& remoteFingerprint() const { return remoteFingerprint_; }
  // The peer's certificate as shown before the connection (in the code both
  // people compared): a description with any other is refused, never set,
  // and remoteFingerprintRefused() said. Empty: any. Kept across this
  // session's connections until changed.
  void expectRemoteFingerprint(QByteArray fingerprint) { expectedRemote_ = std::move(fingerprint); }
  // Whether a "control" channel the peer opens is taken as ours (the
  // client's); the host makes its own and takes none from the peer. For the
  // connections created after.
  void setAdoptsPeerControl(bool adopts) { adoptsPeerControl_ = adopts; }
  // Host: the client's answer.
  void acceptAnswer(const std::string& sdp);
  // Client: answers an offer (the first one or a renegotiation).
  void answerOffer(const std::string& sdp);
  // Client: marks the ICE credentials for renewal at the next negotiation.
  void restartIceLocally();
  // New ICE servers for the connection (false without one, or when refused).
  bool setIceServers(const std::vector<rtc::IceServer>& servers);
  // An offer has gone out on this connection.
  bool hasOffered() const { return offered_; }
  void addRemoteCandidate(const rtc::IceCandidate& candidate);
  // The library's counters; `done` runs on the main thread, and not at all
  // when the connection has gone meanwhile.
  void collectStats(std::function<void(const rtc::ConnectionStats&)> done);
  // connectDeadlinePassed() follows unless ICE is connected within 15 s
  // (or `ms`, which replaces a deadline already running).
  void armConnectDeadline();
  void armConnectDeadline(int ms);

 Q_SIGNALS:
  // All on the main thread, for the current connection only.
  void iceStateChanged(rtc::IceConnectionState state);
  void localCandidate(const rtc::IceCandidate& candidate);
  void remoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track);
  void controlChannelAdopted();
  // Either side: "control" is open (each side then announces its features).
  void controlChannelOpened();
  void peerFeaturesReceived(const lunor::PeerFeatures& features);
  // Host: the client shows the connection's first picture.
  void peerShowsPicture();
  // Host: the client asks for the desktop's size to fit its view.
  void peerAsksScreenSize(QSize size);
  void channelOpened(const QString& label);
  void channelClosed(const QString& label);
  void channelMessage(const QString& label, const QByteArray& data, bool binary);
  void descriptionReady(const rtc::SessionDescription& description);
  // An empty error means the answer was applied.
  void answerApplied(const QString& error);
  void connectDeadlinePassed();
  void remoteFingerprintRefused();

 private:
  class Observer;

  class ChannelTap;

  void adopt(std::shared_ptr<rtc::DataChannel> channel);
  void adoptExtra(std::shared_ptr<rtc::DataChannel> channel);
  void extraChannelState(const QString& label, rtc::DataChannelState state);
  void setLocal(rtc::SessionDescription description);
  void applySenderBitrates();
  void startRestart();
  // False, and said, when the description is not from the expected peer.
  bool fromExpectedPeer(const std::string& sdp);
  // Says controlChannelOpened() once for the connection's channel.
  void controlOpened();
  bool connected() const;

  Epoch& epoch_;
  Log log_;
  std::shared_ptr<rtc::PeerConnection> connection_;
  std::shared_ptr<Observer> observer_;
  std::shared_ptr<rtc::DataChannel> controlChannel_;
  std::map<QString, std::shared_ptr<rtc::DataChannel>> extraChannels_;
  std::vector<std::string> acceptedChannels_;
  bool offered_ = false;         // an offer went out on this connection
  bool answerPending_ = false;   // ...and its answer has not been applied yet
  OfferRewrite pendingRestart_;  // a new offer waiting for that answer
  bool pendingIceRestart_ = false;  // ...with fresh ICE credentials
  bool adoptsPeerControl_ = true;
  bool controlOpenSaid_ = false;
  QByteArray localFingerprint_;
  QByteArray remoteFingerprint_;
  std::map<std::string, std::pair<int, int>> senderBitrates_;  // by track: min, max bits a second
  QByteArray expectedRemote_;
  ClockTimer iceCheck_;
  ClockTimer connectDeadline_;
};

}  // namespace lunor
