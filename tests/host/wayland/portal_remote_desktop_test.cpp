// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop portal's remote desktop against a scripted portal on a private
// bus, and the checks of the buffers its streams bring. The person shares:
//
//   (0,0) +-------------+ (1920,0) +----------+
//         |  stream 42  |          | stream 57|
//         |  1920x1080  |          | 1280x1024|
//         |  id "DP-1"  |          | (no id)  |
//         +-------------+ (1080)   +----------+ (1024)

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <vector>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QtTest>

#include "private_bus.h"
#include "host/wayland/display_list_portal.h"
#include "host/wayland/pipewire_stream.h"
#include "host/wayland/portal_remote_desktop.h"
#include "store/fake_secret_store.h"

using namespace lunor;
using Failure = RemoteDesktopSession::Failure;

namespace {

const QString kService = "org.freedesktop.portal.Desktop";
const QString kPath = "/org/freedesktop/portal/desktop";
const QString kTokenService = "test.lunor";

// Marshalled as the portal's (ii) and (ua{sv}).
using IntPair = std::pair<int, int>;
using StreamEntry = std::pair<uint, QVariantMap>;

QVariantMap mapOf(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    QVariantMap map;
    qvariant_cast<QDBusArgument>(value) >> map;
    return map;
  }
  return value.toMap();
}

using test::PrivateBus;

// The portal as xdg-desktop-portal shows it: every call recorded; requests
// answered by a Response on their path, Start with the scripted answer.
class FakePortal final : public QDBusVirtualObject {
 public:
  struct Call {
    QString interface, member, path;
    QVariantList arguments;
  };

  explicit FakePortal(QDBusConnection bus) : bus_(bus) {}

  uint remoteDesktopVersion = 2;
  uint cursorModes = 1 | 2 | 4;
  uint startResponse = 0;     // what the person answers in the dialog
  bool giveToken = true;      // Start hands back a restore token
  QList<StreamEntry> streams;
  int pipeWireFd = -1;        // handed out by OpenPipeWireRemote
  QList<Call> calls;
  QString sessionPath;        // the last session made

  QList<Call> callsOf(const QString& member) const {
    QList<Call> found;
    for (const Call& call : calls) {
      if (call.member == member) found << call;
    }
    return found;
  }
  QVariantMap optionsOf(const QString& member) const {
    const auto found = callsOf(member);
    return found.isEmpty() ? QVariantMap() : mapOf(found.last().arguments.last());
  }
  void closeSession() {
    bus_.send(QDBusMessage::createSignal(sessionPath, "org.freedesktop.portal.Session", "Closed"));
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    calls << Call{message.interface(), message.member(), message.path(), message.arguments()};
    const QString member = message.member();
    if (message.interface() == "org.freedesktop.DBus.Properties" && member == "Get") {
      const QString property = message.arguments().value(1).toString();
      if (property == "version" && remoteDesktopVersion > 0) {
        return reply(connection, message, {QVariant::fromValue(QDBusVariant(remoteDesktopVersion))});
      }
      if (property == "AvailableCursorModes" && cursorModes > 0) {
        return reply(connection, message, {QVariant::fromValue(QDBusVariant(cursorModes))});
      }
      connection.send(message.createErrorReply(QDBusError::InvalidArgs, "no such property"));
      return true;
    }
    if (member == "CreateSession") {
      sessionPath = kPath + "/session/" + sender(message) + "/" +
                    mapOf(message.arguments().value(0)).value("session_handle_token").toString();
      return respond(connection, message, 0, {{"session_handle", sessionPath}});
    }
    if (member == "SelectDevices" || member == "SelectSources") return respond(connection, message, 0, {});
    if (member == "Start") {
      QVariantMap results;
      if (startResponse == 0) {
        results = {{"devices", 3u}, {"streams", QVariant::fromValue(streams)}};
        if (giveToken) results.insert("restore_token", "token-1");
      }
      return respond(connection, message, startResponse, results);
    }
    if (member == "OpenPipeWireRemote") {
      return reply(connection, message, {QVariant::fromValue(QDBusUnixFileDescriptor(pipeWireFd))});
    }
    // Input, Session.Close, Request.Close: recorded, answered with nothing.
    if (!message.isReplyRequired()) return true;
    return reply(connection, message, {});
  }

 private:
  static QString sender(const QDBusMessage& message) {
    QString name = message.service().mid(1);
    return name.replace('.', '_');
  }
  static bool reply(const QDBusConnection& connection, const QDBusMessage& message, const QVariantList& values) {
    connection.send(message.createReply(values));
    return true;
  }
  // The method's reply (the request's path), then the Response on it.
  bool respond(const QDBusConnection& connection, const QDBusMessage& message, uint response,
               const QVariantMap& results) {
    const QString token = mapOf(message.arguments().last()).value("handle_token").toString();
    const QString request = kPath + "/request/" + sender(message) + "/" + token;
    reply(connection, message, {QVariant::fromValue(QDBusObjectPath(request))});
    QDBusMessage signal = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
    signal << response << results;
    connection.send(signal);
    return true;
  }

  QDBusConnection bus_;
};

// What a start answered.
struct Outcome {
  bool done = false;
  std::optional<RemoteDesktopSession::Stream> stream;
  Failure failure = Failure::NoFailure;
  QString error;
  bool fdReachesPortal = false;  // the PipeWire fd handed over is what the portal opened
};

}  // namespace

class PortalRemoteDesktopTest : public QObject {
  Q_OBJECT

  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<QDBusConnection> portalBus_;
  std::unique_ptr<QDBusConnection> appBus_;
  std::unique_ptr<FakePortal> portal_;
  FakeSecretStore secrets_;
  int pipe_[2] = {-1, -1};
  int connections_ = 0;

  std::unique_ptr<PortalRemoteDesktop> makeSession() {
    return std::make_unique<PortalRemoteDesktop>(secrets_, kTokenService, portal_->remoteDesktopVersion, *appBus_);
  }
  std::optional<QString> storedToken() {
    const auto read = secrets_.read(kTokenService, kPortalRestoreTokenAccount);
    return read.data ? std::optional(QString::fromUtf8(*read.data)) : std::nullopt;
  }
  // Starts `session` (`meanwhile` before it is up) and waits for its answer;
  // the stream's fd is tried and closed.
  Outcome start(PortalRemoteDesktop& session, const QString& connector, const std::function<void()>& meanwhile = {}) {
    auto outcome = std::make_shared<Outcome>();
    session.start(connector, [outcome](std::optional<RemoteDesktopSession::Stream> stream, Failure failure,
                                       const QString& error) { *outcome = {true, stream, failure, error}; });
    if (meanwhile) meanwhile();
    std::ignore = QTest::qWaitFor([&] { return outcome->done; }, 10000);
    if (outcome->stream && outcome->stream->pipeWireFd >= 0) {
      char byte = 0;
      outcome->fdReachesPortal = ::write(outcome->stream->pipeWireFd, "x", 1) == 1 &&
                                 ::read(pipe_[0], &byte, 1) == 1 && byte == 'x';
      ::close(outcome->stream->pipeWireFd);
    }
    return *outcome;
  }
  // Returns once the portal has handled all the application sent before
  // (messages arrive in order), calls queued for the loop's next turn included.
  void barrier() {
    QCoreApplication::processEvents();
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    get.setArguments({"org.freedesktop.portal.RemoteDesktop", "version"});
    const QDBusPendingCall pending = appBus_->asyncCall(get);
    QVERIFY(QTest::qWaitFor([&] { return pending.isFinished(); }, 10000));
  }

 private Q_SLOTS:
  void initTestCase() {
    qDBusRegisterMetaType<IntPair>();
    qDBusRegisterMetaType<StreamEntry>();
    qDBusRegisterMetaType<QList<StreamEntry>>();
  }

  void init() {
    bus_ = std::make_unique<PrivateBus>();
    QVERIFY2(!bus_->address.isEmpty(), "dbus-daemon did not start");
    ++connections_;
    portalBus_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(bus_->address, QString("portal-%1").arg(connections_)));
    appBus_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(bus_->address, QString("app-%1").arg(connections_)));
    QVERIFY(portalBus_->isConnected() && appBus_->isConnected());
    portal_ = std::make_unique<FakePortal>(*portalBus_);
    QVERIFY(portalBus_->registerVirtualObject(kPath, portal_.get(), QDBusConnection::SubPath));
    QVERIFY(portalBus_->registerService(kService));
    QVERIFY(::pipe2(pipe_, O_CLOEXEC) == 0);
    portal_->pipeWireFd = pipe_[1];
    portal_->streams = {
        {42, {{"id", "DP-1"}, {"position", QVariant::fromValue(IntPair{0, 0})},
              {"size", QVariant::fromValue(IntPair{1920, 1080})}, {"source_type", 1u}}},
        {57, {{"position", QVariant::fromValue(IntPair{1920, 0})}, {"size", QVariant::fromValue(IntPair{1280, 1024})},
              {"source_type", 1u}}},
    };
    secrets_.items.clear();
  }

  void cleanup() {
    portalBus_->unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(portalBus_->name());
    QDBusConnection::disconnectFromBus(appBus_->name());
    portal_.reset();
    portalBus_.reset();
    appBus_.reset();
    bus_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
  }

  // A buffer's offset, stride and rows are checked against its chunk and
  // memory before a byte is read. A 100 x 10 picture: rows of 400 bytes.
  void buffersAreCheckedBeforeTheyAreRead_data() {
    QTest::addColumn<uint>("maxSize");
    QTest::addColumn<uint>("offset");
    QTest::addColumn<uint>("size");
    QTest::addColumn<int>("stride");
    QTest::addColumn<int>("usedStride");  // 0: refused
    QTest::newRow("packed rows") << 4000u << 0u << 4000u << 400 << 400;
    QTest::newRow("no stride said") << 4000u << 0u << 4000u << 0 << 400;
    QTest::newRow("padded rows, last one short") << 5008u << 0u << 5008u << 512 << 512;
    QTest::newRow("after an offset") << 8192u << 4096u << 4000u << 400 << 400;
    QTest::newRow("a stride shorter than a row") << 4000u << 0u << 4000u << 100 << 0;
    QTest::newRow("a negative stride") << 4000u << 0u << 4000u << -400 << 0;
    QTest::newRow("an offset past the memory") << 4000u << 4001u << 4000u << 400 << 0;
    QTest::newRow("rows past the memory after the offset") << 4000u << 100u << 4000u << 400 << 0;
    QTest::newRow("rows past the chunk") << 8000u << 0u << 3999u << 400 << 0;
    QTest::newRow("a huge stride") << 4000u << 0u << 4000u << 0x7fffffff << 0;
  }
  void buffersAreCheckedBeforeTheyAreRead() {
    QFETCH(uint, maxSize);
    QFETCH(uint, offset);
    QFETCH(uint, size);
    QFETCH(int, stride);
    QFETCH(int, usedStride);
    static const std::vector<uint8_t> memory(8192);  // as large as any row says
    const auto picture = planePicture(memory.data(), maxSize, offset, size, stride, 100, 10);
    QCOMPARE(picture ? picture->stride : 0, usedStride);
    if (picture) QCOMPARE(picture->data, memory.data() + offset);
  }

  // A portal without RemoteDesktop (wlroots' has only ScreenCast) is not one.
  void availability_data() {
    QTest::addColumn<uint>("version");
    QTest::addColumn<bool>("available");
    QTest::newRow("RemoteDesktop version 2") << 2u << true;
    QTest::newRow("no RemoteDesktop") << 0u << false;
  }
  void availability() {
    QFETCH(uint, version);
    QFETCH(bool, available);
    portal_->remoteDesktopVersion = version;
    // It blocks: asked from another thread, so the portal here can answer.
    auto answer = std::async(std::launch::async, [this] { return PortalRemoteDesktop::isAvailable(*appBus_); });
    QVERIFY(QTest::qWaitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                            10000));
    QCOMPARE(answer.get(), available);
  }

  // Session, devices and sources with their options, the choice, PipeWire, the stream.
  void fullStart_data() {
    QTest::addColumn<uint>("cursorModes");
    QTest::addColumn<QVariant>("cursorMode");  // sent; invalid: none
    QTest::addColumn<QString>("connector");
    QTest::addColumn<uint>("node");
    QTest::addColumn<QSize>("size");
    QTest::newRow("embedded offered, first monitor") << 7u << QVariant(2u) << "" << 42u << QSize(1920, 1080);
    QTest::newRow("no embedded: hidden") << 5u << QVariant(1u) << "DP-1" << 42u << QSize(1920, 1080);
    QTest::newRow("modes unknown, second monitor") << 0u << QVariant() << "#1" << 57u << QSize(1280, 1024);
    QTest::newRow("a monitor not shared: the first") << 7u << QVariant(2u) << "HDMI-9" << 42u << QSize(1920, 1080);
  }
  void fullStart() {
    QFETCH(uint, cursorModes);
    QFETCH(QVariant, cursorMode);
    QFETCH(QString, connector);
    QFETCH(uint, node);
    QFETCH(QSize, size);
    portal_->cursorModes = cursorModes;
    auto session = makeSession();
    DisplayListPortal displays(*session);
    // Before any session: the one display the person will choose.
    QCOMPARE(displays.displays().size(), size_t(1));
    QCOMPARE(displays.mainDisplayId(), DisplayListPortal::kToBeChosenId);
    QCOMPARE(displays.connectorOf(DisplayListPortal::kToBeChosenId), QString());
    QVERIFY(!session->startsWithoutPerson());

    const Outcome outcome = start(*session, connector);
    QVERIFY(outcome.done);
    QVERIFY2(outcome.stream, qPrintable(outcome.error));
    QCOMPARE(outcome.failure, Failure::NoFailure);
    QCOMPARE(outcome.stream->node, node);
    QCOMPARE(outcome.stream->size, size);
    QVERIFY(outcome.fdReachesPortal);
    QVERIFY(session->active());

    QStringList order;
    for (const auto& call : portal_->calls) {
      if (call.interface != "org.freedesktop.DBus.Properties") order << call.member;
    }
    QCOMPARE(order, QStringList({"CreateSession", "SelectDevices", "SelectSources", "Start", "OpenPipeWireRemote"}));
    QVERIFY(!portal_->optionsOf("CreateSession").value("session_handle_token").toString().isEmpty());
    const QVariantMap devices = portal_->optionsOf("SelectDevices");
    QCOMPARE(devices.value("types").toUInt(), 3u);
    QCOMPARE(devices.value("persist_mode").toUInt(), 2u);
    QVERIFY(!devices.contains("restore_token"));
    const QVariantMap sources = portal_->optionsOf("SelectSources");
    QCOMPARE(sources.value("types").toUInt(), 1u);
    QCOMPARE(sources.value("multiple").toBool(), true);
    QCOMPARE(sources.contains("cursor_mode"), cursorMode.isValid());
    if (cursorMode.isValid()) QCOMPARE(sources.value("cursor_mode").toUInt(), cursorMode.toUInt());
    for (const QString& member : {"SelectDevices", "SelectSources", "Start", "OpenPipeWireRemote"}) {
      QCOMPARE(qvariant_cast<QDBusObjectPath>(portal_->callsOf(member).first().arguments.first()).path(),
               portal_->sessionPath);
    }

    // The token is kept; the monitors are listed where the person has them.
    QCOMPARE(storedToken(), std::optional<QString>("token-1"));
    QVERIFY(session->startsWithoutPerson());
    const auto listed = displays.displays();
    QCOMPARE(listed.size(), size_t(2));
    QCOMPARE(listed[0].bounds, QRect(0, 0, 1920, 1080));
    QCOMPARE(listed[1].bounds, QRect(1920, 0, 1280, 1024));
    QCOMPARE(QSize(listed[1].width, listed[1].height), QSize(1280, 1024));
    QVERIFY(listed[0].id != listed[1].id && listed[0].id != 0 && listed[1].id != 0);
    QCOMPARE(displays.mainDisplayId(), listed[0].id);
    QCOMPARE(displays.connectorOf(listed[0].id), QString("DP-1"));
    QCOMPARE(displays.connectorOf(listed[1].id), QString("#1"));

    // Stopped twice (the capturer and the session's end both stop it): the
    // portal's session closes all the same, nothing stays shared.
    session->stop();
    session->stop();
    QVERIFY(!session->active());
    QTRY_COMPARE(portal_->callsOf("Close").size(), 1);
    QCOMPARE(portal_->callsOf("Close").first().path, portal_->sessionPath);
  }

  // The person's answer, with or without a kept token, and what is kept. A
  // token the portal no longer honours only brings the dialog back.
  void theDialogsAnswer_data() {
    QTest::addColumn<QString>("stored");    // empty: none
    QTest::addColumn<uint>("response");
    QTest::addColumn<bool>("giveToken");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("kept");      // empty: none
    QTest::addColumn<uint>("version");      // 1 remembers no choice: it is not asked to
    QTest::newRow("first time, shared") << "" << 0u << true << int(Failure::NoFailure) << "token-1" << 2u;
    QTest::newRow("first time, not to be remembered") << "" << 0u << false << int(Failure::NoFailure) << "" << 2u;
    QTest::newRow("first time, cancelled") << "" << 1u << false << int(Failure::Refused) << "" << 2u;
    QTest::newRow("portal error") << "" << 2u << false << int(Failure::Error) << "" << 2u;
    QTest::newRow("token restored, replaced") << "old" << 0u << true << int(Failure::NoFailure) << "token-1" << 2u;
    QTest::newRow("token refused, dialog cancelled") << "old" << 1u << false << int(Failure::Refused) << "" << 2u;
    QTest::newRow("version 1: token not offered") << "old" << 0u << false << int(Failure::NoFailure) << "old" << 1u;
    QTest::newRow("token spent, none back") << "old" << 0u << false << int(Failure::NoFailure) << "" << 2u;
  }
  void theDialogsAnswer() {
    QFETCH(QString, stored);
    QFETCH(uint, response);
    QFETCH(bool, giveToken);
    QFETCH(int, failure);
    QFETCH(QString, kept);
    QFETCH(uint, version);
    if (!stored.isEmpty()) secrets_.save(kTokenService, kPortalRestoreTokenAccount, stored.toUtf8());
    portal_->startResponse = response;
    portal_->giveToken = giveToken;
    portal_->remoteDesktopVersion = version;
    const bool remembers = version > 1;
    auto session = makeSession();
    QCOMPARE(session->remembersChoice(), remembers);
    // A version 1 portal asks each time, whatever token is left from before.
    QCOMPARE(session->startsWithoutPerson(), remembers && !stored.isEmpty());
    // Without a kept choice the dialog shows, and whoever waits hears for how long.
    QList<int> choosing;
    session->setChoosingHandler([&choosing](int ms) { choosing << ms; });

    const Outcome outcome = start(*session, QString());
    QVERIFY(outcome.done);
    const bool asks = !remembers || stored.isEmpty();
    QCOMPARE(choosing, asks ? QList<int>{PortalRemoteDesktop::kChoiceTimeoutMs} : QList<int>{});
    QCOMPARE(int(outcome.failure), failure);
    QCOMPARE(outcome.stream.has_value(), failure == int(Failure::NoFailure));
    const QVariantMap devices = portal_->optionsOf("SelectDevices");
    QCOMPARE(devices.contains("persist_mode"), remembers);
    QCOMPARE(devices.value("restore_token").toString(), remembers ? stored : QString());
    QCOMPARE(storedToken().value_or(QString()), kept);
    QCOMPARE(session->startsWithoutPerson(), remembers && !kept.isEmpty());
    if (failure == int(Failure::Refused)) QVERIFY(outcome.error.contains("refusé"));
    if (failure != int(Failure::NoFailure)) {
      // Nothing left open: the session closed, no PipeWire connection.
      QVERIFY(!session->active());
      QVERIFY(portal_->callsOf("OpenPipeWireRemote").isEmpty());
      QTRY_COMPARE(portal_->callsOf("Close").size(), 1);
      QCOMPARE(portal_->callsOf("Close").first().path, portal_->sessionPath);
    }
  }

  // Input reaches the portal on the session, in the stream's coordinates.
  void inputReachesThePortal_data() {
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("signature");  // after the session and its options
    QTest::addColumn<QVariantList>("values");
    QTest::newRow("motion") << 0 << "NotifyPointerMotionAbsolute" << "udd" << QVariantList{57u, 640.5, 512.0};
    // Asked for while the stream is set up (a display switch's centre): sent once it is up.
    QTest::newRow("motion during the start") << 6 << "NotifyPointerMotionAbsolute" << "udd"
                                             << QVariantList{57u, 10.0, 20.0};
    QTest::newRow("left button down") << 1 << "NotifyPointerButton" << "iu" << QVariantList{0x110, 1u};
    QTest::newRow("wheel down two clicks") << 2 << "NotifyPointerAxisDiscrete" << "ui" << QVariantList{0u, 2};
    QTest::newRow("wheel left") << 3 << "NotifyPointerAxisDiscrete" << "ui" << QVariantList{1u, -1};
    QTest::newRow("key A up") << 4 << "NotifyKeyboardKeycode" << "iu" << QVariantList{30, 0u};
    QTest::newRow("keysym é down") << 5 << "NotifyKeyboardKeysym" << "iu" << QVariantList{0xe9, 1u};
  }
  void inputReachesThePortal() {
    QFETCH(int, action);
    QFETCH(QString, method);
    QFETCH(QString, signature);
    QFETCH(QVariantList, values);
    auto session = makeSession();
    auto act = [&] {
      switch (action) {
        case 0: session->pointerMotion(640.5, 512.0); break;
        case 1: session->pointerButton(0x110, true); break;
        case 2: session->pointerWheel(false, 2); break;
        case 3: session->pointerWheel(true, -1); break;
        case 4: session->keyboardKeycode(30, false); break;
        case 5: session->keyboardKeysym(0xe9, true); break;
        case 6: session->pointerMotion(10, 20); break;
      }
    };
    // Before the stream is up nothing goes but a motion, which waits for it.
    if (action != 0 && action != 6) act();
    const Outcome outcome = start(*session, "#1", action == 6 ? std::function<void()>(act) : nullptr);
    QVERIFY(outcome.stream);
    if (action != 6) act();
    QTRY_COMPARE(portal_->callsOf(method).size(), 1);
    const FakePortal::Call call = portal_->callsOf(method).first();
    QCOMPARE(call.interface, QString("org.freedesktop.portal.RemoteDesktop"));
    QCOMPARE(qvariant_cast<QDBusObjectPath>(call.arguments.value(0)).path(), portal_->sessionPath);
    QCOMPARE(mapOf(call.arguments.value(1)), QVariantMap());
    const QVariantList sent = call.arguments.mid(2);
    QString types;
    for (const QVariant& v : sent) types += QString::fromLatin1(QDBusMetaType::typeToSignature(v.metaType()));
    QCOMPARE(types, signature);
    QCOMPARE(sent, values);
    // After a stop, nothing goes.
    session->stop();
    act();
    barrier();
    QCOMPARE(portal_->callsOf("Close").size(), 1);
    QCOMPARE(portal_->callsOf(method).size(), 1);
  }

  // A display switch to a shared monitor: the same session, no dialog; to
  // one not shared, a new session.
  void switchingMonitors_data() {
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("sessions");
    QTest::addColumn<uint>("node");
    QTest::newRow("the other shared monitor") << "#1" << 1 << 57u;
    QTest::newRow("the same monitor again") << "DP-1" << 1 << 42u;
    QTest::newRow("a monitor not shared") << "HDMI-9" << 2 << 42u;
  }
  void switchingMonitors() {
    QFETCH(QString, second);
    QFETCH(int, sessions);
    QFETCH(uint, node);
    auto session = makeSession();
    const Outcome first = start(*session, "DP-1");
    QVERIFY(first.stream);
    const QString firstSession = portal_->sessionPath;
    session->stop();
    const Outcome switched = start(*session, second);
    QVERIFY2(switched.stream, qPrintable(switched.error));
    QCOMPARE(switched.stream->node, node);
    QCOMPARE(portal_->callsOf("CreateSession").size(), sessions);
    QCOMPARE(portal_->callsOf("Start").size(), sessions);
    QCOMPARE(portal_->callsOf("OpenPipeWireRemote").size(), 2);
    QVERIFY(session->active());
    // The first session closes only when it is not the one in use.
    barrier();
    QCOMPARE(portal_->callsOf("Close").size(), sessions - 1);
    if (sessions > 1) QCOMPARE(portal_->callsOf("Close").first().path, firstSession);
  }

  // The portal ends the session (sharing stopped on the desktop): the handler
  // hears it, input stops, nothing is closed twice.
  void thePortalClosesTheSession() {
    auto session = makeSession();
    QStringList closed;
    session->setClosedHandler([&closed](const QString& why) { closed << why; });
    const Outcome outcome = start(*session, QString());
    QVERIFY(outcome.stream);
    portal_->closeSession();
    QTRY_COMPARE(closed.size(), 1);
    QVERIFY(closed.first().contains("portail"));
    QVERIFY(!session->active());
    session->pointerButton(0x110, true);
    session->stop();
    barrier();
    QVERIFY(portal_->callsOf("NotifyPointerButton").isEmpty());
    QVERIFY(portal_->callsOf("Close").isEmpty());
  }
};

QTEST_GUILESS_MAIN(PortalRemoteDesktopTest)
#include "portal_remote_desktop_test.moc"
