// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/mutter_remote_desktop.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include "host/host_log.h"
#include "host/wayland/dbus_step.h"
#include "host/wayland/virtual_monitor.h"
#include "system/console_log.h"

namespace lunor {
namespace {

const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString kRemoteDesktopSession = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
const QString kScreenCastSession = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");
const QString kScreenCastStream = QStringLiteral("org.gnome.Mutter.ScreenCast.Stream");
constexpr uint kCursorEmbedded = 1;

QString pathOf(const QDBusMessage& reply) {
  return reply.arguments().isEmpty() ? QString() : qvariant_cast<QDBusObjectPath>(reply.arguments().front()).path();
}

}  // namespace

MutterRemoteDesktop::MutterRemoteDesktop(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  startTimeout_.setSingleShot(true);
  startTimeout_.setInterval(kStartTimeoutMs);
  connect(&startTimeout_, &QTimer::timeout, this,
          [this] { fail(QStringLiteral("le compositeur n’a pas ouvert le flux à temps")); });
}

MutterRemoteDesktop::~MutterRemoteDesktop() { stop(); }

bool MutterRemoteDesktop::isAvailable(const QDBusConnection& bus) {
  return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kRemoteDesktop).value() &&
         bus.interface()->isServiceRegistered(kScreenCast).value();
}

bool MutterRemoteDesktop::active() const {
  std::lock_guard lock(mutex_);
  return started_;
}

void MutterRemoteDesktop::call(const QString& service, const QString& path, const QString& interface,
                               const QString& method, const QVariantList& arguments,
                               std::function<void(const QDBusMessage& reply)> next) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  message.setArguments(arguments);
  const int attempt = attempt_;  // a start since, or a stop, makes the reply moot
  callStep(
      bus_, message, kStartTimeoutMs, this, [this, attempt] { return attempt == attempt_; },
      [this](const QString& why) { fail(why); }, std::move(next));
}

void MutterRemoteDesktop::start(const QString& connector, StartDone done) {
  stop();
  pending_ = std::move(done);
  ++attempt_;
  startTimeout_.start();
  call(kRemoteDesktop, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), kRemoteDesktop,
       QStringLiteral("CreateSession"), {}, [this, connector](const QDBusMessage& reply) {
         const QString session = pathOf(reply);
         {
           std::lock_guard lock(mutex_);
           sessionPath_ = session;
         }
         bus_.connect(kRemoteDesktop, session, kRemoteDesktopSession, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed()));
         // The screen cast joins the remote-desktop session by its ID.
         call(kRemoteDesktop, session, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
              {kRemoteDesktopSession, QStringLiteral("SessionId")}, [this, connector](const QDBusMessage& reply) {
                const QString id = qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toString();
                const QVariantMap properties{{QStringLiteral("remote-desktop-session-id"), id}};
                call(kScreenCast, QStringLiteral("/org/gnome/Mutter/ScreenCast"), kScreenCast,
                     QStringLiteral("CreateSession"), {properties}, [this, connector](const QDBusMessage& reply) {
                       const QString cast = pathOf(reply);
                       {
                         std::lock_guard lock(mutex_);
                         screenCastPath_ = cast;
                       }
                       QVariantMap record{{QStringLiteral("cursor-mode"), QVariant::fromValue(kCursorEmbedded)}};
                       // The separate session's monitor is made for this
                       // stream, at the size its consumer asks.
                       const bool virtualMonitor = connector == VirtualMonitor::kConnector;
                       if (virtualMonitor) record.insert(QStringLiteral("is-platform"), true);
                       call(kScreenCast, cast, kScreenCastSession,
                            virtualMonitor ? QStringLiteral("RecordVirtual") : QStringLiteral("RecordMonitor"),
                            virtualMonitor ? QVariantList{record} : QVariantList{connector, record},
                            [this](const QDBusMessage& reply) {
                              const QString stream = pathOf(reply);
                              {
                                std::lock_guard lock(mutex_);
                                streamPath_ = stream;
                              }
                              bus_.connect(kScreenCast, stream, kScreenCastStream,
                                           QStringLiteral("PipeWireStreamAdded"), this, SLOT(onStreamAdded(uint)));
                              QString session;
                              {
                                std::lock_guard lock(mutex_);
                                session = sessionPath_;
                              }
                              // The linked screen cast starts with the session.
                              call(kRemoteDesktop, session, kRemoteDesktopSession, QStringLiteral("Start"), {},
                                   [](const QDBusMessage&) {});
                            });
                     });
              });
       });
}

void MutterRemoteDesktop::onStreamAdded(uint node) {
  if (!pending_) return;
  startTimeout_.stop();
  releaseHeldInput();
  consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] Mutter : flux PipeWire %1").arg(node));
  std::exchange(pending_, nullptr)(Stream{node, -1, QSize()}, Failure::NoFailure, QString());
}

void MutterRemoteDesktop::releaseHeldInput() {
  {
    std::lock_guard lock(mutex_);
    // Mutter loses the first key of a fresh virtual keyboard now and then
    // (a terminal in a headless session missed the first letter of one
    // client in two): a key that types nothing goes first.
    sendLocked({QStringLiteral("NotifyKeyboardKeycode"), {uint(kKeyUnknown), true}});
    sendLocked({QStringLiteral("NotifyKeyboardKeycode"), {uint(kKeyUnknown), false}});
    // Where the pointer was asked to go meanwhile (the centre of a display
    // switched to): there now, and what followed once it is.
    if (!held_.empty() && held_.front().motion) {
      sendLocked(held_.front());
      held_.pop_front();
    }
  }
  const int attempt = attempt_;
  QTimer::singleShot(kPrimeMs, this, [this, attempt] {
    if (attempt != attempt_) return;  // stopped since
    std::lock_guard lock(mutex_);
    for (const Input& input : std::exchange(held_, {})) sendLocked(input);
    started_ = true;
  });
}

void MutterRemoteDesktop::onSessionClosed() {
  const bool wasStarting = static_cast<bool>(pending_);
  stop();
  if (wasStarting) return;  // stop() answered the start already
  if (closed_) closed_(QStringLiteral("le compositeur a fermé la session de bureau à distance"));
}

void MutterRemoteDesktop::fail(const QString& why) {
  consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ❌ Mutter : ") + why);
  StartDone done = std::exchange(pending_, nullptr);
  stop();
  if (done) done(std::nullopt, Failure::Error, why);
}

void MutterRemoteDesktop::stop() {
  ++attempt_;  // replies still on their way belong to nothing
  startTimeout_.stop();
  QString session, stream;
  {
    std::lock_guard lock(mutex_);
    session = std::exchange(sessionPath_, QString());
    stream = std::exchange(streamPath_, QString());
    screenCastPath_.clear();
    started_ = false;
    held_.clear();
  }
  if (!stream.isEmpty()) {
    bus_.disconnect(kScreenCast, stream, kScreenCastStream, QStringLiteral("PipeWireStreamAdded"), this,
                    SLOT(onStreamAdded(uint)));
  }
  if (!session.isEmpty()) {
    bus_.disconnect(kRemoteDesktop, session, kRemoteDesktopSession, QStringLiteral("Closed"), this,
                    SLOT(onSessionClosed()));
    bus_.send(QDBusMessage::createMethodCall(kRemoteDesktop, session, kRemoteDesktopSession, QStringLiteral("Stop")));
  }
  if (StartDone done = std::exchange(pending_, nullptr)) done(std::nullopt, Failure::Error, QStringLiteral("arrêtée"));
}

// -------------------------------------------------------------------- input --

void MutterRemoteDesktop::notify(Input input) {
  std::lock_guard lock(mutex_);
  if (started_) {
    sendLocked(input);
    return;
  }
  // A newer place replaces a place not sent yet.
  if (input.motion && !held_.empty() && held_.back().motion) held_.pop_back();
  if (held_.size() < kMaxHeldInputs) held_.push_back(std::move(input));
}

void MutterRemoteDesktop::sendLocked(const Input& input) {
  QVariantList arguments = input.arguments;
  if (input.motion) arguments.prepend(streamPath_);
  QDBusMessage message =
      QDBusMessage::createMethodCall(kRemoteDesktop, sessionPath_, kRemoteDesktopSession, input.method);
  message.setArguments(arguments);
  bus_.send(message);  // thread-safe, calls nothing of ours; no answer awaited
}

void MutterRemoteDesktop::pointerMotion(double x, double y) {
  notify({QStringLiteral("NotifyPointerMotionAbsolute"), {x, y}, true});
}

void MutterRemoteDesktop::pointerButton(int button, bool pressed) {
  notify({QStringLiteral("NotifyPointerButton"), {button, pressed}});
}

void MutterRemoteDesktop::pointerWheel(bool horizontal, int steps) {
  notify({QStringLiteral("NotifyPointerAxisDiscrete"), {uint(horizontal ? 1 : 0), steps}});
}

void MutterRemoteDesktop::keyboardKeycode(int key, bool pressed) {
  notify({QStringLiteral("NotifyKeyboardKeycode"), {uint(key), pressed}});
}

void MutterRemoteDesktop::keyboardKeysym(uint32_t keysym, bool pressed) {
  notify({QStringLiteral("NotifyKeyboardKeysym"), {uint(keysym), pressed}});
}

}  // namespace lunor
