// SPDX-License-Identifier: GPL-3.0-or-later
#include "headless_desktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QTest>

#include "child_process.h"

namespace lunor::test {
namespace {

// A session bus that starts nothing by itself: only what the test runs is on it.
constexpr char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

HeadlessDesktop::HeadlessDesktop(const QList<QSize>& monitors) {
  QFile::setPermissions(runtime_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QString socket = runtime_.filePath("bus");
  QFile config(runtime_.filePath("bus.conf"));
  if (!config.open(QIODevice::WriteOnly)) {
    error_ = "cannot write the bus configuration";
    return;
  }
  config.write(QString::fromLatin1(kBusConfig).arg(socket).toUtf8());
  config.close();
  busAddress_ = "unix:path=" + socket;

  auto process = [&] { return processes_.emplace_back(std::make_unique<QProcess>()).get(); };
  if (!startProcess(*process(), "dbus-daemon", {"--nofork", "--config-file=" + config.fileName()})) return;
  if (!QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000)) {
    error_ = "dbus-daemon did not listen";
    return;
  }
  if (!startProcess(*process(), "pipewire", {})) return;
  if (!QTest::qWaitFor([&] { return QFile::exists(runtime_.filePath("pipewire-0")); }, 10000)) {
    error_ = "pipewire did not listen";
    return;
  }
  // WirePlumber's Bluetooth part watches logind, and WirePlumber quits
  // where /run/systemd has no seats (a container, a fresh root): then
  // nothing links the host's stream to the compositor's. Not here.
  const QString wireplumberConfig = runtime_.filePath("config/wireplumber/bluetooth.lua.d");
  QDir().mkpath(wireplumberConfig);
  QFile noLogind(wireplumberConfig + "/51-no-logind.lua");
  if (!noLogind.open(QIODevice::WriteOnly) || noLogind.write("bluez_monitor.properties[\"with-logind\"] = false\n") < 0) {
    error_ = "cannot write WirePlumber's configuration";
    return;
  }
  noLogind.close();
  QProcess* wireplumber = process();
  QProcessEnvironment wireplumberEnvironment = environment();
  wireplumberEnvironment.insert("XDG_CONFIG_HOME", runtime_.filePath("config"));
  if (!startProcess(*wireplumber, "wireplumber", {}, wireplumberEnvironment)) return;
  QStringList arguments{"--headless", "--wayland", "--no-x11"};
  for (const QSize& size : monitors) {
    arguments << "--virtual-monitor" << QString("%1x%2").arg(size.width()).arg(size.height());
  }
  compositor_ = process();
  if (!startProcess(*compositor_, "mutter", arguments)) return;

  // Ready once its remote desktop answers and its Wayland socket is there.
  QDBusConnection bus = QDBusConnection::connectToBus(busAddress_, "headless-desktop-probe");
  const bool ready = QTest::qWaitFor(
      [&] {
        return QFile::exists(runtime_.filePath("wayland-0")) && bus.isConnected() &&
               bus.interface()->isServiceRegistered("org.gnome.Mutter.RemoteDesktop").value() &&
               bus.interface()->isServiceRegistered("org.gnome.Mutter.DisplayConfig").value();
      },
      20000);
  QDBusConnection::disconnectFromBus("headless-desktop-probe");
  if (!ready) error_ = "mutter did not come up: " + QString::fromLocal8Bit(processes_.back()->readAll());
  // Without it no picture flows and no input goes: say why now rather than
  // let every wait of the test time out.
  for (QProcess* helper : {processes_[1].get(), wireplumber}) {
    if (helper->state() == QProcess::NotRunning) {
      error_ = helper->program() + " stopped (exit " + QString::number(helper->exitCode()) +
               "): " + QString::fromLocal8Bit(helper->readAll()).right(2000);
    }
  }
}

HeadlessDesktop::~HeadlessDesktop() {
  for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
    QProcess& p = **it;
    if (p.state() == QProcess::NotRunning) continue;
    p.terminate();
    if (!p.waitForFinished(5000)) {
      p.kill();
      p.waitForFinished(2000);
    }
  }
}

QProcessEnvironment HeadlessDesktop::sessionVariables() const {
  QProcessEnvironment env;
  env.insert("XDG_RUNTIME_DIR", runtime_.path());
  env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress_);
  env.insert("WAYLAND_DISPLAY", "wayland-0");
  env.insert("XDG_SESSION_TYPE", "wayland");
  return env;
}

QProcessEnvironment HeadlessDesktop::environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(sessionVariables());
  env.remove("DISPLAY");
  env.remove("PIPEWIRE_REMOTE");
  return env;
}

bool HeadlessDesktop::startProcess(QProcess& process, const QString& program, const QStringList& arguments,
                                   const QProcessEnvironment& environment) {
  process.setProcessEnvironment(environment.isEmpty() ? this->environment() : environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  dieWithTest(process);
  process.start(program, arguments);
  if (process.waitForStarted(10000)) return true;
  error_ = program + " did not start: " + process.errorString();
  return false;
}

std::unique_ptr<QProcess> HeadlessDesktop::launch(const QString& program, const QStringList& arguments) const {
  auto process = std::make_unique<QProcess>();
  process->setProcessEnvironment(environment());
  process->setProcessChannelMode(QProcess::MergedChannels);
  dieWithTest(*process);
  process->start(program, arguments);
  if (!process->waitForStarted(10000)) return nullptr;
  return process;
}

}  // namespace lunor::test
