// The protocol without sockets: connections, frames and what goes back.

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "rooms.h"

using namespace lunor::signal;

namespace {

struct RecordingOutput final : RoomsOutput {
  void send(const QString& peerId, const QByteArray& json) override {
    sent[peerId] << QJsonDocument::fromJson(json).object();
  }
  void close(const QString& peerId, int, const QString&) override { closed << peerId; }
  QList<QJsonObject> ofType(const QString& peerId, const QString& type) const {
    QList<QJsonObject> found;
    for (const auto& message : sent.value(peerId)) {
      if (message.value("type") == type) found << message;
    }
    return found;
  }
  QHash<QString, QList<QJsonObject>> sent;
  QStringList closed;
};

QByteArray json(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QString roomName(int i) { return QString("room%1").arg(i); }

// Two rooms of a table filled with rooms 0 to count - 1, in that order, such
// that removing the first moves the second to other memory. Found on a
// table of the same keys: its layout is the rooms' own.
std::optional<std::pair<int, int>> roomMovedByRemoving(int count) {
  QHash<QString, int> table;
  for (int i = 0; i < count; ++i) table.insert(roomName(i), i);
  for (int removed = 0; removed < count; ++removed) {
    QHash<QString, int> copy = table;
    copy.detach();
    QHash<const int*, int> before;
    for (auto it = copy.cbegin(); it != copy.cend(); ++it) before.insert(&it.value(), it.value());
    copy.remove(roomName(removed));
    for (auto it = copy.cbegin(); it != copy.cend(); ++it) {
      if (before.value(&it.value(), -1) != it.value()) return std::pair(removed, it.value());
    }
  }
  return std::nullopt;
}

}  // namespace

class RoomsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // A host that joins another room first leaves its own, which may move the
  // other rooms around in the table: the join must still reach its host.
  void hostJoiningAnotherRoomReachesItsHost() {
    constexpr int kRooms = 3000;
    const auto pair = roomMovedByRemoving(kRooms);
    QVERIFY2(pair, "no layout moves a room; the table works differently now");
    const auto [joinerRoom, targetRoom] = *pair;

    RecordingOutput output;
    Rooms rooms({}, output, [] { return qint64(0); });
    QStringList hosts;
    for (int i = 0; i < kRooms; ++i) {
      hosts << rooms.newClientId();
      rooms.connected(hosts.last(), "10.0.0.1");
      rooms.frame(hosts.last(), json({{"type", "create"}, {"roomId", roomName(i)}}));
    }
    const QString joiner = hosts[joinerRoom];
    const QString host = hosts[targetRoom];
    rooms.frame(joiner, json({{"type", "join"}, {"roomId", roomName(targetRoom)}, {"displayName", "x"}}));
    const auto requests = output.ofType(host, "join-request");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().value("clientId").toString(), joiner);
    rooms.frame(host, json({{"type", "approve"}, {"target", joiner}}));
    QCOMPARE(output.ofType(joiner, "approved").size(), 1);
    QCOMPARE(rooms.roomCount(), kRooms - 1);
  }
};

QTEST_GUILESS_MAIN(RoomsTest)
#include "rooms_test.moc"
