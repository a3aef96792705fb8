// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The remote desktop of Wayland desktops other than GNOME (KDE Plasma and
// the like), through the desktop portal (org.freedesktop.portal.Desktop):
// one RemoteDesktop session with its screen cast, the monitors a person
// chose in the desktop's dialog each as a PipeWire stream on a connection
// the portal opens for us, input through the portal in a stream's
// coordinates.
//
// The portal asks a person the first time. When the desktop lets the
// choice be remembered it hands back a restore token, kept in the secret
// store; the next session sends it and starts without a dialog. Each
// session gives a new token, which replaces the kept one; a session that
// gives none (the person did not let it be remembered, or the desktop
// does not) drops it. A token the portal no longer honours costs only a
// dialog: it asks again and hands back a fresh one.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QTimer>
#include <QVariantMap>

#include "host/wayland/portal_streams.h"
#include "host/wayland/remote_desktop_session.h"

namespace lunor {

class SecretStore;

// Where the restore token is kept: the application's service, this account.
inline constexpr char kPortalRestoreTokenAccount[] = "desktop-portal-restore-token";

class PortalRemoteDesktop final : public QObject, public RemoteDesktopSession {
  Q_OBJECT

 public:
  // Each step the portal answers by itself.
  static constexpr int kStartTimeoutMs = 10'000;
  // The step where a person may be choosing in the desktop's dialog.
  static constexpr int kChoiceTimeoutMs = 120'000;

  // secrets is borrowed and must outlive this; the token is read now and
  // written when a session gives a new one (main thread, one short call).
  // version: the portal's RemoteDesktop interface's (version()).
  PortalRemoteDesktop(SecretStore& secrets, QString secretService, uint version,
                      QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~PortalRemoteDesktop() override;

  // Whether the portal's remote desktop answers on this bus (its
  // RemoteDesktop interface has a version; a desktop whose portal lacks
  // it, as wlroots' does, has none).
  static bool isAvailable(const QDBusConnection& bus);
  // Its RemoteDesktop interface's version; 0 when it does not answer.
  // Blocks for the answer.
  static uint version(const QDBusConnection& bus);

  // Whether a start can do without a person here: a restore token is kept
  // and the portal honours it.
  // Main thread.
  bool startsWithoutPerson() const { return remembersChoice() && !restoreToken_.isEmpty(); }
  // Whether the portal can remember the person's choice at all (its
  // RemoteDesktop interface from version 2 on): without, each new host
  // process asks again.
  bool remembersChoice() const { return version_ >= 2; }

  // The monitors of the running session, or of the last one; none before
  // the first. Any thread.
  std::vector<PortalStream> streams() const;

  void start(const QString& connector, StartDone done) override;
  void stop() override;
  void setClosedHandler(Closed handler) override { closed_ = std::move(handler); }
  void setChoosingHandler(std::function<void(int timeoutMs)> handler) override { choosingHandler_ = std::move(handler); }
  bool active() const override;

  void pointerMotion(double x, double y) override;
  void pointerButton(int button, bool pressed) override;
  void pointerWheel(bool horizontal, int steps) override;
  void keyboardKeycode(int key, bool pressed) override;
  void keyboardKeysym(uint32_t keysym, bool pressed) override;

 Q_SIGNALS:
  // The streams changed (a session started or ended). Main thread.
  void streamsChanged();

 private Q_SLOTS:
  void onResponse(const QDBusMessage& message);
  void onSessionClosed(const QDBusMessage& message);

 private:
  using Next = std::function<void(const QDBusMessage& reply)>;
  using Results = std::function<void(const QVariantMap& results)>;

  // A method of the portal; `next` gets the reply when it is not an error.
  void call(const QString& interface, const QString& method, const QVariantList& arguments, Next next);
  // A method answered by a Request's Response: `options` is the last
  // argument, and gets the handle token; `next` gets the results of a
  // success.
  void request(const QString& interface, const QString& method, QVariantList arguments, QVariantMap options,
               Results next, int timeoutMs = kStartTimeoutMs);
  void selectDevices();
  void selectSources(uint cursorModes);
  void startSession();
  // Asks for a connection to PipeWire and answers the start with the
  // stream shared as `connector`.
  void openStream(const QString& connector);
  void keepToken(const QString& token);
  void fail(RemoteDesktopSession::Failure failure, const QString& why);
  // Closes the portal's session and forgets it.
  void closeSession();
  void notify(const QString& method, const QVariantList& arguments);

  SecretStore& secrets_;
  const QString secretService_;
  QDBusConnection bus_;
  Closed closed_;
  std::function<void(int timeoutMs)> choosingHandler_;
  StartDone pending_;  // while starting
  QString connector_;  // the monitor the start asked for
  QTimer startTimeout_;
  bool choosing_ = false;     // the step under way may show the dialog
  int attempt_ = 0;           // the start the replies belong to
  int tokens_ = 0;            // handle tokens given so far
  QString requestPath_;       // the Request awaited, if any
  Results requestNext_;
  QString restoreToken_;      // kept in the secret store; empty when none
  uint version_ = 0;          // of the portal's RemoteDesktop interface
  bool sentToken_ = false;    // this session was asked to restore it
  bool closing_ = false;      // stop() came: the session closes once the event loop turns

  mutable std::mutex mutex_;   // guards what follows: input and the display list come from any thread
  QString sessionPath_;        // the portal's session
  std::vector<PortalStream> streams_;
  uint32_t node_ = 0;          // the shared stream's, for pointer motion
  bool started_ = false;       // a stream is shared: input goes through
  std::optional<QPointF> pendingMotion_;  // asked for before the stream was up
};

}  // namespace lunor
