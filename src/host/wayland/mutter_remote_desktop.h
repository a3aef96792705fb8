// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// GNOME's remote desktop, through Mutter's own D-Bus API: a
// org.gnome.Mutter.RemoteDesktop session with a linked ScreenCast session
// recording one monitor (the cursor drawn into the picture). It needs no
// dialog, so attended and unattended access work as on X11.

#include <deque>
#include <mutex>
#include <optional>


#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include "host/wayland/remote_desktop_session.h"

namespace lunor {

class MutterRemoteDesktop final : public QObject, public RemoteDesktopSession {
  Q_OBJECT

 public:
  static constexpr int kStartTimeoutMs = 10'000;

  explicit MutterRemoteDesktop(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~MutterRemoteDesktop() override;

  // Whether Mutter's remote desktop answers on this bus.
  static bool isAvailable(const QDBusConnection& bus);

  void start(const QString& connector, StartDone done) override;
  void stop() override;
  void setClosedHandler(Closed handler) override { closed_ = std::move(handler); }
  bool active() const override;

  void pointerMotion(double x, double y) override;
  void pointerButton(int button, bool pressed) override;
  void pointerWheel(bool horizontal, int steps) override;
  void keyboardKeycode(int key, bool pressed) override;
  void keyboardKeysym(uint32_t keysym, bool pressed) override;

 private Q_SLOTS:
  void onStreamAdded(uint node);
  void onSessionClosed();

 private:
  // One step of the start; `next` gets the reply when it is not an error.
  void call(const QString& service, const QString& path, const QString& interface, const QString& method,
            const QVariantList& arguments, std::function<void(const QDBusMessage& reply)> next);
  void fail(const QString& why);
  // An input method of the remote-desktop session: sent at once while the
  // stream is up, held (in order, bounded) while it is not.
  struct Input {
    QString method;
    QVariantList arguments;  // for a motion, without the stream
    bool motion = false;
  };
  static constexpr size_t kMaxHeldInputs = 512;
  void notify(Input input);
  // Sends `input` without waiting for an answer. With mutex_ held, so that
  // held input goes out before what comes after it.
  void sendLocked(const Input& input);
  // The stream is up: the held pointer place now, the rest a frame later
  // (the compositor gives a surface the pointer on its next frame, and the
  // keyboard its first key).
  void releaseHeldInput();
  static constexpr int kKeyUnknown = 240;  // evdev's KEY_UNKNOWN: no symbol in any layout
  static constexpr int kPrimeMs = 100;

  QDBusConnection bus_;
  Closed closed_;
  StartDone pending_;  // while starting
  QTimer startTimeout_;
  int attempt_ = 0;    // the start the replies belong to

  mutable std::mutex mutex_;  // guards the paths below: input comes from any thread
  QString sessionPath_;       // the remote-desktop session
  QString screenCastPath_;    // its screen-cast session
  QString streamPath_;        // the recorded monitor's stream
  bool started_ = false;      // the stream is up and held input went out: input goes through
  std::deque<Input> held_;    // asked for before that, in order
};

}  // namespace lunor
