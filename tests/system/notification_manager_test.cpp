// SPDX-License-Identifier: GPL-3.0-or-later
// Join notifications on a private bus, against a notification service of our own.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QtTest>

#include "console_capture.h"
#include "private_bus.h"
#include "session_probe.h"
#include "system/linux/notification_manager_dbus.h"

using namespace lunor;

namespace {

const QString kPath = "/org/freedesktop/Notifications";
const QString kInterface = "org.freedesktop.Notifications";

// What a desktop's notification daemon does, as far as the manager can tell.
class FakeNotificationService final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Shown {
    uint id, replaces;
    QString summary, body;
    QStringList actions;
  };
  QList<Shown> shown;
  QSet<uint> live;
  uint nextId = 1;
  bool actions = true;

 public Q_SLOTS:
  QStringList GetCapabilities() { return actions ? QStringList{"body", "actions"} : QStringList{"body"}; }
  uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
              const QString& body, const QStringList& actionList, const QVariantMap&, int) {
    const uint id = replaces != 0 && live.contains(replaces) ? replaces : nextId++;
    live.insert(id);
    shown.append({id, replaces, summary, body, actionList});
    return id;
  }
  void CloseNotification(uint id) { live.remove(id); }
};

}  // namespace

class NotificationManagerTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::PrivateBus> bus;
  std::unique_ptr<FakeNotificationService> service;
  std::unique_ptr<test::ConsoleCapture> console;
  int connections = 0;

  // A fresh client connection on the private bus.
  QDBusConnection client() { return bus->connect(QString("client-%1").arg(++connections)); }

  void emitAction(uint id, const QString& key) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked");
    QDBusConnection(QString("service")).send(signal << id << key);
  }

  bool logged(const QString& line) const { return console->contains(line); }

  // The service has not answered the first post yet, or has.
  static void firstPostAnswered() {
    QTest::addColumn<bool>("answeredFirst");
    QTest::newRow("shown") << true;
    QTest::newRow("still being posted") << false;
  }

 private Q_SLOTS:
  void init() {
    console = std::make_unique<test::ConsoleCapture>();
    bus = std::make_unique<test::PrivateBus>();
    QVERIFY2(!bus->address.isEmpty(), "dbus-daemon did not start");
    service = std::make_unique<FakeNotificationService>();
    QDBusConnection serviceBus = bus->connect("service");
    QVERIFY(serviceBus.isConnected());
    QVERIFY(serviceBus.registerObject(kPath, service.get(), QDBusConnection::ExportAllSlots));
    QVERIFY(serviceBus.registerService("org.freedesktop.Notifications"));
  }
  void cleanup() {
    QDBusConnection::disconnectFromBus("service");
    service.reset();
    bus.reset();
    console.reset();
  }

  // One notification per client, its requester's name in the title, with
  // the two buttons: a second request replaces the first, shown or still
  // being posted; another client's is a notification of its own.
  void sameClientReplacesItsNotification_data() { firstPostAnswered(); }
  void sameClientReplacesItsNotification() {
    QFETCH(bool, answeredFirst);
    DBusNotificationManager manager(client());
    manager.ensureConfigured();
    manager.postJoinRequest("Zoé", "c1");
    if (answeredFirst) QTRY_VERIFY(logged("🟢 [Notif] add(join) OK id=join-request-c1"));
    manager.postJoinRequest("Zoé Roy", "c1");
    QTRY_COMPARE(service->shown.size(), 2);
    QTest::qWait(200);
    QCOMPARE(service->shown.size(), 2);
    QCOMPARE(service->live.size(), 1);
    QCOMPARE(service->shown[1].replaces, service->shown[0].id);
    QCOMPARE(service->shown[1].summary, QString("Zoé Roy souhaite se connecter"));
    QCOMPARE(service->shown[1].body, QString("Appuie sur Accepter pour autoriser le contrôle à distance."));
    QCOMPARE(service->shown[1].actions.mid(0, 4),
             (QStringList{"REMOTE_JOIN_ACCEPT", "Accepter", "REMOTE_JOIN_REJECT", "Refuser"}));
    manager.postJoinRequest(QString(), "c2");
    QTRY_COMPARE(service->live.size(), 2);
    QCOMPARE(service->shown[2].summary, QString("Nouvelle demande de connexion"));
  }

  // A requester who leaves takes its notification with it, even one whose
  // post the service has not answered yet; another client's stays.
  void withdrawnRequestsCloseTheirNotification_data() { firstPostAnswered(); }
  void withdrawnRequestsCloseTheirNotification() {
    QFETCH(bool, answeredFirst);
    DBusNotificationManager manager(client());
    manager.ensureConfigured();
    manager.postJoinRequest("Bob", "c2");
    manager.postJoinRequest("Zoé", "c1");
    if (answeredFirst) QTRY_VERIFY(logged("🟢 [Notif] add(join) OK id=join-request-c1"));
    manager.withdrawJoinRequest("c1");
    QTRY_VERIFY(logged("ℹ️ [Notif] retirée id=join-request-c1"));
    QTRY_COMPARE(service->live.size(), 1);
    QTest::qWait(200);
    QCOMPARE(service->live.size(), 1);  // Bob's
    QCOMPARE(service->shown.size(), 2);
  }

  void buttonsReachTheHostSessionOnlyForItsRequester() {
    DBusNotificationManager manager(client());
    manager.ensureConfigured();
    test::ScriptedSession scripted;
    scripted.environment.notificationsOverride = &manager;
    QVERIFY(scripted.startHost());
    // A client session made later must not take the buttons.
    ClientSession clientSession(scripted.environment);
    auto approvals = [&] { return scripted.server.receivedTypes().count("approve"); };
    scripted.server.sendJson(test::joinRequest("c1"));
    QTRY_COMPARE(service->shown.size(), 1);
    QTRY_VERIFY(logged("🟢 [Notif] add(join) OK id=join-request-c1"));
    const uint first = service->shown[0].id;
    scripted.server.sendJson(test::joinRequest("c2", "Bob"));
    QTRY_COMPARE(service->shown.size(), 2);
    QTRY_VERIFY(logged("🟢 [Notif] add(join) OK id=join-request-c2"));
    const uint second = service->shown[1].id;

    emitAction(first, "REMOTE_JOIN_ACCEPT");  // c1 is no longer the requester
    QTRY_VERIFY(logged("🟢 [Notif] Action: ACCEPT → c1"));
    emitAction(second, "default");            // a click on the body
    QTRY_COMPARE(console->lines().filter("tap banner (default)").size(), 1);
    QTest::qWait(200);
    QCOMPARE(approvals(), 0);
    QVERIFY(scripted.host().pendingJoin());

    emitAction(second, "REMOTE_JOIN_ACCEPT");
    QTRY_COMPARE(approvals(), 1);
    for (const auto& sent : scripted.server.receivedObjects()) {
      if (sent.value("type") == "approve") QCOMPARE(sent.value("target").toString(), QString("c2"));
    }
    QVERIFY(scripted.host().approved());
  }

  void withoutAServiceNothingIsPostedAndThePromptStays_data() {
    QTest::addColumn<bool>("serviceRuns");
    QTest::addColumn<int>("status");
    QTest::newRow("no service") << false << 0;
    QTest::newRow("service without actions") << true << 1;
  }
  void withoutAServiceNothingIsPostedAndThePromptStays() {
    QFETCH(bool, serviceRuns);
    QFETCH(int, status);
    if (serviceRuns) {
      service->actions = false;
    } else {
      QDBusConnection("service").unregisterService("org.freedesktop.Notifications");
    }
    DBusNotificationManager manager(client());
    test::ScriptedSession scripted;
    scripted.environment.notificationsOverride = &manager;
    QVERIFY(scripted.startHost());
    scripted.server.sendJson({{"type", "join-request"}, {"clientId", "c1"}});
    QTRY_VERIFY(scripted.host().pendingJoin());
    QVERIFY(logged("🟠 [Notif] ensureConfigured → reconfigure"));
    QTRY_VERIFY(logged(QString("🟥 [Notif] not authorized (status=%1) → pas d’envoi").arg(status)));
    QVERIFY(service->shown.isEmpty());
    QVERIFY(scripted.environment.panelsFake.lastPrompt.has_value());
  }
};

QTEST_GUILESS_MAIN(NotificationManagerTest)
#include "notification_manager_test.moc"
