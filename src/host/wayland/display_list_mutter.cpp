// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/display_list_mutter.h"

#include <cmath>

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QHash>

namespace lunor {
namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString kPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");
constexpr uint kLogicalLayout = 1;

// An a{sv} as QtDBus hands it over: already a map, or still to be read.
QVariantMap variantMap(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    QVariantMap map;
    qvariant_cast<QDBusArgument>(value) >> map;
    return map;
  }
  return value.toMap();
}

bool isLogicalLayout(const QDBusMessage& reply) {
  return reply.arguments().size() > 3 &&
         variantMap(reply.arguments().at(3)).value(QStringLiteral("layout-mode")).toUInt() == kLogicalLayout;
}

QDBusMessage stateCall() {
  return QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCurrentState"));
}

// (ssss): the connector first.
QString readSpec(const QDBusArgument& argument) {
  QString connector, vendor, product, serial;
  argument.beginStructure();
  argument >> connector >> vendor >> product >> serial;
  argument.endStructure();
  return connector;
}

}  // namespace

std::vector<MutterMonitor> parseMutterState(const QDBusMessage& reply) {
  const QVariantList arguments = reply.arguments();
  if (reply.type() != QDBusMessage::ReplyMessage || arguments.size() < 3) return {};
  QHash<QString, QSize> sizes;  // connector → the current mode's pixels
  {
    const QDBusArgument monitors = qvariant_cast<QDBusArgument>(arguments.at(1));
    monitors.beginArray();
    while (!monitors.atEnd()) {
      monitors.beginStructure();
      const QString connector = readSpec(monitors);
      monitors.beginArray();
      while (!monitors.atEnd()) {
        QString id;
        int width = 0, height = 0;
        double refresh = 0, preferredScale = 0;
        QList<double> scales;
        QVariantMap properties;
        monitors.beginStructure();
        monitors >> id >> width >> height >> refresh >> preferredScale >> scales >> properties;
        monitors.endStructure();
        if (properties.value(QStringLiteral("is-current")).toBool()) sizes.insert(connector, QSize(width, height));
      }
      monitors.endArray();
      QVariantMap properties;
      monitors >> properties;
      monitors.endStructure();
    }
    monitors.endArray();
  }
  std::vector<MutterMonitor> result;
  const QDBusArgument logical = qvariant_cast<QDBusArgument>(arguments.at(2));
  logical.beginArray();
  while (!logical.atEnd()) {
    int x = 0, y = 0;
    double scale = 1;
    uint transform = 0;
    bool primary = false;
    logical.beginStructure();
    logical >> x >> y >> scale >> transform >> primary;
    logical.beginArray();
    QStringList connectors;
    while (!logical.atEnd()) connectors << readSpec(logical);
    logical.endArray();
    QVariantMap properties;
    logical >> properties;
    logical.endStructure();
    for (const QString& connector : connectors) {
      QSize size = sizes.value(connector);
      if (size.isEmpty()) continue;  // off
      if (transform % 2 == 1) size.transpose();  // turned a quarter
      result.push_back({connector, size.width(), size.height(), x, y, scale > 0 ? scale : 1.0, primary});
    }
  }
  logical.endArray();
  return result;
}

std::vector<DisplayDescription> mutterDisplays(const std::vector<MutterMonitor>& monitors, bool logicalLayout) {
  std::vector<DisplayDescription> displays;
  for (const MutterMonitor& m : monitors) {
    const double scale = logicalLayout ? m.scale : 1.0;
    DisplayDescription display;
    display.id = qHash(m.connector) | 1u;  // never 0, which means none
    display.width = m.width;
    display.height = m.height;
    display.bounds = QRect(m.x, m.y, static_cast<int>(std::lround(m.width / scale)),
                           static_cast<int>(std::lround(m.height / scale)));
    displays.push_back(display);
  }
  return displays;
}

DisplayListMutter::DisplayListMutter(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  bus_.connect(kService, kPath, kService, QStringLiteral("MonitorsChanged"), this, SLOT(refresh()));
  // Once now, so the first question has an answer.
  const QDBusMessage reply = bus_.call(stateCall(), QDBus::Block, 5000);
  const auto monitors = parseMutterState(reply);
  const bool logicalLayout = isLogicalLayout(reply);
  std::lock_guard lock(mutex_);
  displays_ = mutterDisplays(monitors, logicalLayout);
  for (size_t i = 0; i < monitors.size(); ++i) {
    connectors_.push_back(monitors[i].connector);
    if (monitors[i].primary || main_ == 0) main_ = displays_[i].id;
  }
}

void DisplayListMutter::refresh() {
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(stateCall(), 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
    watcher->deleteLater();
    const QDBusMessage reply = watcher->reply();
    const auto monitors = parseMutterState(reply);
    if (monitors.empty()) return;  // keep what we had
    const bool logicalLayout = isLogicalLayout(reply);
    std::lock_guard lock(mutex_);
    displays_ = mutterDisplays(monitors, logicalLayout);
    connectors_.clear();
    main_ = 0;
    for (size_t i = 0; i < monitors.size(); ++i) {
      connectors_.push_back(monitors[i].connector);
      if (monitors[i].primary || main_ == 0) main_ = displays_[i].id;
    }
  });
}

std::vector<DisplayDescription> DisplayListMutter::displays() {
  std::lock_guard lock(mutex_);
  return displays_;
}

uint32_t DisplayListMutter::mainDisplayId() {
  std::lock_guard lock(mutex_);
  return main_;
}

QString DisplayListMutter::connectorOf(uint32_t displayId) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < displays_.size(); ++i) {
    if (displays_[i].id == displayId) return connectors_[i];
  }
  return {};
}

}  // namespace lunor
