// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/portal_remote_desktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QUuid>

#include "host/host_log.h"
#include "store/secret_store.h"
#include "host/wayland/dbus_step.h"
#include "system/console_log.h"

namespace lunor {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr uint kDevicesKeyboardAndPointer = 1 | 2;
constexpr uint kSourceMonitor = 1;
constexpr uint kCursorHidden = 1;
constexpr uint kCursorEmbedded = 2;
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kResponseCancelled = 1;

// A token for a request or a session: unique, of the characters the
// portal allows in an object path.
QString newToken() { return QStringLiteral("lunor_") + QUuid::createUuid().toString(QUuid::Id128); }

// An a{sv} as QtDBus hands it over: already a map, or still to be read.
QVariantMap variantMap(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    QVariantMap map;
    qvariant_cast<QDBusArgument>(value) >> map;
    return map;
  }
  return value.toMap();
}

}  // namespace

PortalRemoteDesktop::PortalRemoteDesktop(SecretStore& secrets, QString secretService, uint version,
                                         QDBusConnection bus, QObject* parent)
    : QObject(parent),
      secrets_(secrets),
      secretService_(std::move(secretService)),
      bus_(std::move(bus)),
      version_(version) {
  startTimeout_.setSingleShot(true);
  connect(&startTimeout_, &QTimer::timeout, this, [this] {
    if (choosing_) {
      fail(Failure::Refused, QStringLiteral("personne n’a choisi l’écran à partager dans la fenêtre du bureau"));
    } else {
      fail(Failure::Error, QStringLiteral("le portail de bureau n’a pas répondu à temps"));
    }
  });
  const auto stored = secrets_.read(secretService_, QString::fromLatin1(kPortalRestoreTokenAccount));
  if (stored.data) restoreToken_ = QString::fromUtf8(*stored.data);
  if (!remembersChoice()) {
    consoleLine(lcHost(),
                QStringLiteral("[ScreenCapturer] ⚠️ Portail : ce bureau ne retient pas le choix de l’écran "
                               "(RemoteDesktop version %1) : chaque nouveau démarrage de l’hôte le redemandera")
                    .arg(version_));
  }
}

PortalRemoteDesktop::~PortalRemoteDesktop() {
  stop();
  closeSession();
}

uint PortalRemoteDesktop::version(const QDBusConnection& bus) {
  if (!bus.isConnected()) return 0;
  QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
  get.setArguments({kRemoteDesktop, QStringLiteral("version")});
  const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 0;
  return qvariant_cast<QDBusVariant>(reply.arguments().front()).variant().toUInt();
}

bool PortalRemoteDesktop::isAvailable(const QDBusConnection& bus) { return version(bus) > 0; }

bool PortalRemoteDesktop::active() const {
  std::lock_guard lock(mutex_);
  return started_;
}

std::vector<PortalStream> PortalRemoteDesktop::streams() const {
  std::lock_guard lock(mutex_);
  return streams_;
}

// ------------------------------------------------------------------- calls --

void PortalRemoteDesktop::call(const QString& interface, const QString& method, const QVariantList& arguments,
                               Next next) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
  message.setArguments(arguments);
  const int attempt = attempt_;  // a start since, or a stop, makes the reply moot
  callStep(
      bus_, message, kStartTimeoutMs, this, [this, attempt] { return attempt == attempt_; },
      [this](const QString& why) { fail(Failure::Error, why); }, std::move(next));
}

void PortalRemoteDesktop::request(const QString& interface, const QString& method, QVariantList arguments,
                                  QVariantMap options, Results next, int timeoutMs) {
  // The Response may come before the call's reply: listened for first, on
  // the path the portal makes of our name and the token.
  const QString token = newToken();
  QString sender = bus_.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  requestPath_ = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
  requestNext_ = std::move(next);
  bus_.connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
  options.insert(QStringLiteral("handle_token"), token);
  arguments.append(options);
  startTimeout_.start(timeoutMs);
  call(interface, method, arguments, [this](const QDBusMessage& reply) {
    // A portal older than the predictable paths answers on its own.
    const QString handle = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
    if (handle.isEmpty() || handle == requestPath_) return;
    bus_.disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onResponse(QDBusMessage)));
    requestPath_ = handle;
    bus_.connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
  });
}

void PortalRemoteDesktop::onResponse(const QDBusMessage& message) {
  if (requestPath_.isEmpty() || message.path() != requestPath_) return;
  bus_.disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
  requestPath_.clear();
  const Results next = std::exchange(requestNext_, nullptr);
  const uint response = message.arguments().value(0).toUInt();
  if (response == kResponseCancelled) {
    fail(Failure::Refused, QStringLiteral("le partage de l’écran a été refusé dans la fenêtre du bureau"));
  } else if (response != 0) {
    fail(Failure::Error, QStringLiteral("le portail de bureau a refusé la demande (%1)").arg(response));
  } else if (next) {
    next(variantMap(message.arguments().value(1)));
  }
}

// ------------------------------------------------------------------- start --

void PortalRemoteDesktop::start(const QString& connector, StartDone done) {
  bool running = false;
  {
    std::lock_guard lock(mutex_);
    running = !sessionPath_.isEmpty() && !pending_ &&
              (connector.isEmpty() || std::any_of(streams_.begin(), streams_.end(),
                                                  [&](const PortalStream& s) { return s.key == connector; }));
  }
  if (running) {
    // A monitor the person already chose: the same session, another stream.
    stop();
    closing_ = false;
    pending_ = std::move(done);
    ++attempt_;
    startTimeout_.start(kStartTimeoutMs);
    choosing_ = false;
    openStream(connector);
    return;
  }
  stop();
  closeSession();
  pending_ = std::move(done);
  connector_ = connector;
  ++attempt_;
  choosing_ = false;
  const QString sessionToken = newToken();
  request(kRemoteDesktop, QStringLiteral("CreateSession"), {},
          {{QStringLiteral("session_handle_token"), sessionToken}}, [this](const QVariantMap& results) {
            const QString session = results.value(QStringLiteral("session_handle")).toString();
            if (session.isEmpty()) {
              fail(Failure::Error, QStringLiteral("CreateSession : pas de session"));
              return;
            }
            {
              std::lock_guard lock(mutex_);
              sessionPath_ = session;
            }
            bus_.connect(kService, session, kSession, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed(QDBusMessage)));
            selectDevices();
          });
}

void PortalRemoteDesktop::selectDevices() {
  QVariantMap options{{QStringLiteral("types"), kDevicesKeyboardAndPointer}};
  // Before version 2 the portal knows neither (and drops them unsaid).
  if (remembersChoice()) options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
  sentToken_ = remembersChoice() && !restoreToken_.isEmpty();
  if (sentToken_) options.insert(QStringLiteral("restore_token"), restoreToken_);
  QString session;
  {
    std::lock_guard lock(mutex_);
    session = sessionPath_;
  }
  request(kRemoteDesktop, QStringLiteral("SelectDevices"), {QVariant::fromValue(QDBusObjectPath(session))}, options,
          [this](const QVariantMap&) {
            // Which cursor modes the desktop offers; a portal too old to
            // say takes the option as it comes.
            QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
            get.setArguments({kScreenCast, QStringLiteral("AvailableCursorModes")});
            auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, kStartTimeoutMs), this);
            const int attempt = attempt_;
            connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, attempt] {
              watcher->deleteLater();
              if (attempt != attempt_) return;
              const QDBusMessage reply = watcher->reply();
              uint modes = 0;
              if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                modes = qvariant_cast<QDBusVariant>(reply.arguments().front()).variant().toUInt();
              }
              selectSources(modes);
            });
          });
}

void PortalRemoteDesktop::selectSources(uint cursorModes) {
  QVariantMap options{{QStringLiteral("types"), kSourceMonitor}, {QStringLiteral("multiple"), true}};
  // The pointer drawn into the picture; else none, which the client's own
  // pointer stands in for. We draw no pointer from metadata.
  if (cursorModes & kCursorEmbedded) {
    options.insert(QStringLiteral("cursor_mode"), kCursorEmbedded);
  } else if (cursorModes & kCursorHidden) {
    options.insert(QStringLiteral("cursor_mode"), kCursorHidden);
  }
  QString session;
  {
    std::lock_guard lock(mutex_);
    session = sessionPath_;
  }
  request(kScreenCast, QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(session))}, options,
          [this](const QVariantMap&) { startSession(); });
}

void PortalRemoteDesktop::startSession() {
  QString session;
  {
    std::lock_guard lock(mutex_);
    session = sessionPath_;
  }
  // Here the desktop asks the person, unless the token restores the choice.
  choosing_ = true;
  if (!sentToken_ && choosingHandler_) choosingHandler_(kChoiceTimeoutMs);
  request(
      kRemoteDesktop, QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(session)), QString()}, {},
      [this](const QVariantMap& results) {
        choosing_ = false;
        const uint devices = results.value(QStringLiteral("devices")).toUInt();
        auto streams = parsePortalStreams(results.value(QStringLiteral("streams")));
        keepToken(results.value(QStringLiteral("restore_token")).toString());
        if (streams.empty()) {
          fail(Failure::Refused, QStringLiteral("aucun écran n’a été choisi dans la fenêtre du bureau"));
          return;
        }
        if ((devices & kDevicesKeyboardAndPointer) != kDevicesKeyboardAndPointer) {
          consoleLine(lcHost(),
                      QStringLiteral("[ScreenCapturer] ⚠️ Portail : le clavier et la souris n’ont pas été autorisés, "
                                     "l’écran est partagé sans contrôle"));
        }
        consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] Portail : %1 écran(s) partagé(s)").arg(streams.size()));
        {
          std::lock_guard lock(mutex_);
          streams_ = std::move(streams);
        }
        Q_EMIT streamsChanged();
        openStream(connector_);
      },
      kChoiceTimeoutMs);
}

void PortalRemoteDesktop::openStream(const QString& connector) {
  std::optional<PortalStream> stream;
  QString session;
  {
    std::lock_guard lock(mutex_);
    session = sessionPath_;
    for (const PortalStream& s : streams_) {
      if (s.key == connector) stream = s;
    }
    if (!stream && !streams_.empty()) stream = streams_.front();
  }
  if (!stream) {
    fail(Failure::Error, QStringLiteral("aucun écran partagé"));
    return;
  }
  if (!connector.isEmpty() && stream->key != connector) {
    consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ⚠️ Portail : l’écran demandé n’est pas partagé, "
                                         "le premier à sa place"));
  }
  call(kScreenCast, QStringLiteral("OpenPipeWireRemote"), {QVariant::fromValue(QDBusObjectPath(session)), QVariantMap()},
       [this, stream = *stream](const QDBusMessage& reply) {
         const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
         // Ours to hand over: PipeWire closes the copy it is given.
         const int own = fd.isValid() ? ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
         if (own < 0) {
           fail(Failure::Error, QStringLiteral("OpenPipeWireRemote : pas de connexion à PipeWire"));
           return;
         }
         startTimeout_.stop();
         std::optional<QPointF> motion;
         {
           std::lock_guard lock(mutex_);
           started_ = true;
           node_ = stream.node;
           motion = std::exchange(pendingMotion_, std::nullopt);
         }
         if (motion) pointerMotion(motion->x(), motion->y());
         consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] Portail : flux PipeWire %1").arg(stream.node));
         if (StartDone done = std::exchange(pending_, nullptr)) {
           done(Stream{stream.node, own, stream.size}, Failure::NoFailure, QString());
         } else {
           ::close(own);
         }
       });
}

void PortalRemoteDesktop::keepToken(const QString& token) {
  if (token == restoreToken_) return;
  const QString account = QString::fromLatin1(kPortalRestoreTokenAccount);
  if (token.isEmpty()) {
    // The kept one was spent and none replaces it: the next start asks.
    if (!sentToken_) return;
    secrets_.remove(secretService_, account);
    restoreToken_.clear();
    return;
  }
  if (const auto error = secrets_.save(secretService_, account, token.toUtf8())) {
    consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ⚠️ Portail : le choix de l’écran n’a pas pu être retenu (") +
                          toString(*error) + QLatin1Char(')'));
  }
  restoreToken_ = token;
}

// --------------------------------------------------------------------- end --

void PortalRemoteDesktop::fail(Failure failure, const QString& why) {
  consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ❌ Portail : ") + why);
  // The kept token did not spare the person the dialog: it is worth
  // nothing now, and the next start asks afresh.
  if (choosing_ && sentToken_) keepToken(QString());
  StartDone done = std::exchange(pending_, nullptr);
  stop();
  closeSession();
  if (done) done(std::nullopt, failure, why);
}

void PortalRemoteDesktop::stop() {
  ++attempt_;  // replies still on their way belong to nothing
  startTimeout_.stop();
  choosing_ = false;
  if (!requestPath_.isEmpty()) {
    // Its dialog goes too.
    bus_.disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onResponse(QDBusMessage)));
    bus_.send(QDBusMessage::createMethodCall(kService, requestPath_, kRequest, QStringLiteral("Close")));
    requestPath_.clear();
    requestNext_ = nullptr;
  }
  bool session = false;
  {
    std::lock_guard lock(mutex_);
    started_ = false;
    node_ = 0;
    pendingMotion_.reset();
    session = !sessionPath_.isEmpty();
  }
  if (StartDone done = std::exchange(pending_, nullptr)) {
    // A session still being set up is worth nothing.
    closeSession();
    done(std::nullopt, Failure::Error, QStringLiteral("arrêtée"));
    return;
  }
  if (session && !closing_) {
    // The person's choice outlives a stop until the event loop turns: a
    // start that follows at once (another monitor, a fresh stream) keeps
    // it instead of asking again.
    // (Only such a start keeps it: a second stop, which also moves the
    // attempt on, must not.)
    closing_ = true;
    QTimer::singleShot(0, this, [this] {
      if (closing_) closeSession();
    });
  }
}

void PortalRemoteDesktop::closeSession() {
  closing_ = false;
  QString session;
  {
    std::lock_guard lock(mutex_);
    session = std::exchange(sessionPath_, QString());
    started_ = false;
    node_ = 0;
  }
  if (session.isEmpty()) return;
  bus_.disconnect(kService, session, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
  bus_.send(QDBusMessage::createMethodCall(kService, session, kSession, QStringLiteral("Close")));
}

void PortalRemoteDesktop::onSessionClosed(const QDBusMessage& message) {
  bool shared = false;
  {
    std::lock_guard lock(mutex_);
    if (sessionPath_.isEmpty() || message.path() != sessionPath_) return;
    sessionPath_.clear();  // closed already: nothing to close
    shared = started_;
  }
  bus_.disconnect(kService, message.path(), kSession, QStringLiteral("Closed"), this,
                  SLOT(onSessionClosed(QDBusMessage)));
  if (pending_) {
    fail(Failure::Error, QStringLiteral("le portail a fermé la session de bureau à distance"));
    return;
  }
  stop();
  closing_ = false;
  if (shared && closed_) closed_(QStringLiteral("le portail a fermé la session de bureau à distance"));
}

// -------------------------------------------------------------------- input --

void PortalRemoteDesktop::notify(const QString& method, const QVariantList& arguments) {
  QString session;
  {
    std::lock_guard lock(mutex_);
    if (!started_) return;
    session = sessionPath_;
  }
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
  message.setArguments(QVariantList{QVariant::fromValue(QDBusObjectPath(session)), QVariantMap()} + arguments);
  bus_.send(message);  // thread-safe; no answer awaited
}

void PortalRemoteDesktop::pointerMotion(double x, double y) {
  uint32_t node = 0;
  {
    std::lock_guard lock(mutex_);
    if (!started_) {
      pendingMotion_ = QPointF(x, y);
      return;
    }
    node = node_;
  }
  notify(QStringLiteral("NotifyPointerMotionAbsolute"), {uint(node), x, y});
}

void PortalRemoteDesktop::pointerButton(int button, bool pressed) {
  notify(QStringLiteral("NotifyPointerButton"), {button, uint(pressed ? 1 : 0)});
}

void PortalRemoteDesktop::pointerWheel(bool horizontal, int steps) {
  notify(QStringLiteral("NotifyPointerAxisDiscrete"), {uint(horizontal ? 1 : 0), steps});
}

void PortalRemoteDesktop::keyboardKeycode(int key, bool pressed) {
  notify(QStringLiteral("NotifyKeyboardKeycode"), {key, uint(pressed ? 1 : 0)});
}

void PortalRemoteDesktop::keyboardKeysym(uint32_t keysym, bool pressed) {
  notify(QStringLiteral("NotifyKeyboardKeysym"), {int(keysym), uint(pressed ? 1 : 0)});
}

}  // namespace lunor
