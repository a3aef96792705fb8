// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/separate_session.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

#include "app/app_log.h"
#include "app/command_line.h"
#include "system/console_log.h"

namespace lunor {

struct SeparateSession::Part {
  QString role;  // for the log: "affichage", "bureau", "hôte", …
  QProcess* process = nullptr;  // a child of the session's: deleted later, never inside its own signal
  QElapsedTimer started;
};

namespace {

constexpr int kMaxBackoffMs = 30000;
constexpr int kSettledMs = 60000;      // up this long: the next failure waits 1 s again
constexpr int kShortLivedMs = 10000;   // a desktop that ends sooner failed, whatever its exit code
constexpr int kReadyTimeoutMs = 30000;
constexpr int kFirstXDisplay = 20;

// Desktops worth choosing by themselves, lightest first: each entry's file
// name without ".desktop".
constexpr std::array kKnownXDesktops = {"xfce", "mate", "lxqt", "LXDE", "cinnamon", "gnome-xorg", "gnome",
                                        "plasma", "openbox", "icewm"};

const std::vector<Command>& xTerminals() {
  static const std::vector<Command> terminals = {
      {"xterm"}, {"x-terminal-emulator"}, {"xfce4-terminal", "--disable-server"}, {"konsole"},
      {"gnome-terminal", "--wait"}};
  return terminals;
}
const std::vector<Command>& waylandTerminals() {
  static const std::vector<Command> terminals = {
      {"foot"}, {"gnome-terminal", "--wait"}, {"kgx"}, {"konsole"}, {"weston-terminal"}};
  return terminals;
}
const std::vector<Command>& windowManagers() {
  static const std::vector<Command> managers = {
      {"x-window-manager"}, {"openbox"}, {"xfwm4"}, {"metacity"}, {"icewm"}, {"twm"}};
  return managers;
}

std::optional<Command> firstInstalled(const std::vector<Command>& commands,
                                      const std::function<bool(const QString&)>& installed) {
  for (const Command& command : commands) {
    if (installed(command.first())) return command;
  }
  return std::nullopt;
}

struct DesktopEntry {
  Command exec;
  QString names;
};

// A session entry's command, when its program is installed.
std::optional<DesktopEntry> readEntry(const QString& path, const std::function<bool(const QString&)>& installed) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
  bool inEntry = false;
  QString exec, tryExec, names;
  bool hidden = false;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inEntry = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!inEntry) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) continue;
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    if (key == QLatin1String("Exec")) exec = value;
    if (key == QLatin1String("TryExec")) tryExec = value;
    if (key == QLatin1String("DesktopNames")) names = value;
    if (key == QLatin1String("Hidden") || key == QLatin1String("NoDisplay")) hidden = hidden || value == "true";
  }
  // Field codes (%f and the like) mean nothing to a session.
  Command command = QProcess::splitCommand(exec);
  command.removeIf([](const QString& word) { return word.size() == 2 && word.startsWith(QLatin1Char('%')); });
  if (hidden || command.isEmpty() || !installed(command.first())) return std::nullopt;
  if (!tryExec.isEmpty() && !installed(tryExec)) return std::nullopt;
  names.replace(QLatin1Char(';'), QLatin1Char(':'));
  if (names.endsWith(QLatin1Char(':'))) names.chop(1);
  return DesktopEntry{command, names};
}

std::optional<DesktopEntry> findEntry(const QString& name, const QString& folder, const QStringList& dataDirs,
                                      const std::function<bool(const QString&)>& installed) {
  // A name is a file name: nothing that climbs out of the folder.
  if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) return std::nullopt;
  for (const QString& dir : dataDirs) {
    const QString path = QDir(dir).filePath(folder + QLatin1Char('/') + name + QLatin1String(".desktop"));
    if (auto entry = readEntry(path, installed)) return entry;
  }
  return std::nullopt;
}

bool isInstalled(const QString& program) {
  if (program.startsWith(QLatin1Char('/'))) return QFileInfo(program).isExecutable();
  return !QStandardPaths::findExecutable(program).isEmpty();
}

// Waits while the event loop runs: a launcher has nothing else to do, and
// its children's ends are heard meanwhile.
bool waitFor(const std::function<bool()>& ready, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  while (!ready()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(50);
  }
  return true;
}

void say(const QString& line) { consoleLine(lcApp(), line); }

// An Xauthority file's one entry: any host, display `number`, the
// MIT-MAGIC-COOKIE-1 `cookie`.
QByteArray xauthorityEntry(int number, const QByteArray& cookie) {
  QByteArray entry;
  auto field = [&entry](const QByteArray& bytes) {
    const quint16 size = qToBigEndian(quint16(bytes.size()));
    entry.append(reinterpret_cast<const char*>(&size), 2);
    entry.append(bytes);
  };
  const quint16 wild = qToBigEndian(quint16(0xffff));  // FamilyWild: any address
  entry.append(reinterpret_cast<const char*>(&wild), 2);
  field({});
  field(QByteArray::number(number));
  field("MIT-MAGIC-COOKIE-1");
  field(cookie);
  return entry;
}

}  // namespace

SeparateSessionSettings SeparateSessionSettings::read(QSettings& settings) {
  SeparateSessionSettings read;
  settings.beginGroup(QStringLiteral("separateSession"));
  const QString display = settings.value(QStringLiteral("display")).toString();
  if (display == QLatin1String("x11")) read.display = Display::X11;
  if (display == QLatin1String("wayland")) read.display = Display::Wayland;
  read.desktop = settings.value(QStringLiteral("desktop")).toString();
  const QStringList size = settings.value(QStringLiteral("size")).toString().split(QLatin1Char('x'));
  if (size.size() == 2) {
    bool wOk = false, hOk = false;
    const int width = size[0].toInt(&wOk), height = size[1].toInt(&hOk);
    if (wOk && hOk && width >= 640 && height >= 480 && width <= 7680 && height <= 4320) {
      read.size = QSize(width & ~1, height & ~1);
    }
  }
  bool ok = false;
  const int idle = settings.value(QStringLiteral("idleMinutes")).toInt(&ok);
  if (ok && idle > 0) read.idleMinutes = idle;
  settings.endGroup();
  return read;
}

std::optional<SessionPlan> planSession(const SeparateSessionSettings& settings,
                                       const std::function<bool(const QString&)>& installed,
                                       const QStringList& dataDirs, QString* error) {
  using Display = SeparateSessionSettings::Display;
  const auto waylandTerminal = firstInstalled(waylandTerminals(), installed);
  const bool plain = settings.desktop == QLatin1String(SeparateSessionSettings::kPlainDesktop);
  const bool shell = !plain && installed(QStringLiteral("gnome-shell"));
  const bool mutter = installed(QStringLiteral("mutter"));
  const bool waylandPossible = shell || (mutter && waylandTerminal);
  bool wayland = settings.display == Display::Wayland ||
                 (settings.display == Display::Automatic && waylandPossible);
  if (wayland && !waylandPossible) {
    *error = mutter ? QStringLiteral("aucun terminal Wayland installé (foot, gnome-terminal…) pour la session à part")
                    : QStringLiteral("ni GNOME Shell ni Mutter installé pour la session à part sous Wayland");
    return std::nullopt;
  }

  SessionPlan plan;
  plan.wayland = wayland;
  const QString size = QStringLiteral("%1x%2").arg(settings.size.width()).arg(settings.size.height());
  if (wayland) {
    const bool wantsShell = shell && (settings.desktop.isEmpty() || settings.desktop.startsWith(QLatin1String("gnome")));
    // No monitor of its own: the host has one made for each client, at the
    // size it asks (the settings' until a client asks for its window's).
    plan.display = {wantsShell ? QStringLiteral("gnome-shell") : QStringLiteral("mutter"),
                    QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--no-x11")};
    plan.monitorSize = settings.size;
    plan.desktopNames = QStringLiteral("GNOME");
    if (waylandTerminal) plan.desktop = *waylandTerminal;
    plan.why = wantsShell ? QStringLiteral("GNOME Shell sans écran") : QStringLiteral("Mutter sans écran et un terminal");
    plan.fullDesktop = wantsShell;
    return plan;
  }

  if (installed(QStringLiteral("Xvnc"))) {
    plan.display = {QStringLiteral("Xvnc"), QStringLiteral("-geometry"), size, QStringLiteral("-depth"),
                    QStringLiteral("24"), QStringLiteral("-SecurityTypes"), QStringLiteral("None"),
                    QStringLiteral("-localhost"), QStringLiteral("-rfbport"), QStringLiteral("-1"),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp")};
  } else if (installed(QStringLiteral("Xvfb"))) {
    plan.display = {QStringLiteral("Xvfb"), QStringLiteral("-screen"), QStringLiteral("0"), size + QStringLiteral("x24"),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp")};
  } else {
    *error = QStringLiteral("aucun serveur X sans écran installé (Xvfb ou Xvnc) pour la session à part");
    return std::nullopt;
  }
  const QString folder = QStringLiteral("xsessions");
  std::optional<DesktopEntry> entry;
  QString chosen = settings.desktop;
  if (plain) {
    chosen.clear();
  } else if (!chosen.isEmpty()) {
    entry = findEntry(chosen, folder, dataDirs, installed);
  } else {
    for (const char* known : kKnownXDesktops) {
      if ((entry = findEntry(QLatin1String(known), folder, dataDirs, installed))) {
        chosen = QLatin1String(known);
        break;
      }
    }
  }
  if (entry) {
    plan.desktop = entry->exec;
    plan.desktopNames = entry->names;
    plan.why = QStringLiteral("bureau « %1 »").arg(chosen);
    plan.fullDesktop = true;
    return plan;
  }
  const auto terminal = firstInstalled(xTerminals(), installed);
  if (!terminal) {
    *error = QStringLiteral("ni bureau ni terminal installé (xterm…) pour la session à part");
    return std::nullopt;
  }
  plan.desktop = *terminal;
  if (auto manager = firstInstalled(windowManagers(), installed)) plan.windowManager = *manager;
  plan.why = (chosen.isEmpty() ? QString() : QStringLiteral("bureau « %1 » introuvable : ").arg(settings.desktop)) +
             QStringLiteral("gestionnaire de fenêtres et terminal");
  return plan;
}

SeparateSession::SeparateSession(SeparateSessionSettings settings, Command host)
    : settings_(std::move(settings)), hostCommand_(std::move(host)) {
  restart_.setSingleShot(true);
  connect(&restart_, &QTimer::timeout, this, [this] {
    if (pendingScope_ == Scope::Host && !parts_.empty()) {
      if (!startHost()) restartLater(Scope::Host, QStringLiteral("l’hôte n’a pas démarré"));
      return;
    }
    bringUp();
  });
}

SeparateSession::~SeparateSession() { stop(); }

bool SeparateSession::start() {
  dataDirs_ = qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
  if (dataDirs_.isEmpty()) dataDirs_ = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
  plan_ = planSession(settings_, isInstalled, dataDirs_, &error_);
  if (!plan_) return false;
  say(QStringLiteral("🖥️ Session à part : %1, %2x%3").arg(plan_->why).arg(settings_.size.width()).arg(settings_.size.height()));
  bringUp();
  return true;
}

void SeparateSession::stop() {
  stopping_ = true;
  restart_.stop();
  stopParts();
}

void SeparateSession::bringUp() {
  stopParts();
  // Parts that end while the others come up are found at the end: the
  // waits below must not see the list change under them.
  bringingUp_ = true;
  const bool up = bringUpParts();
  bringingUp_ = false;
  if (!up) return;
  for (const auto& part : parts_) {
    if (part->process->state() != QProcess::NotRunning) continue;
    restartLater(part.get() == host_ ? Scope::Host : Scope::Everything,
                 QStringLiteral("%1 arrêté au démarrage").arg(part->role));
    return;
  }
  upSince_.start();
  say(QStringLiteral("✅ Session à part prête : écran %1").arg(displayName_));
}

bool SeparateSession::bringUpParts() {
  // Sockets, bus and cookie of a run are its own: nothing of an earlier one answers.
  const QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  runtime_ = std::make_unique<QTemporaryDir>(QDir(base.isEmpty() ? QDir::tempPath() : base)
                                                 .filePath(QStringLiteral("lunor-session-XXXXXX")));
  if (!runtime_->isValid()) {
    restartLater(Scope::Everything, QStringLiteral("dossier d’exécution impossible à créer"));
    return false;
  }
  QFile::setPermissions(runtime_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  // The session's own bus: the desktop's services (a second GNOME Shell's
  // among them) must not meet those of a session the owner opens here.
  const QString busSocket = runtime_->filePath(QStringLiteral("bus"));
  busAddress_ = QStringLiteral("unix:path=") + busSocket;
  QProcessEnvironment environment = sessionEnvironment();
  auto& bus = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("bus")}));
  if (!startPart(bus, {QStringLiteral("dbus-daemon"), QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--address=") + busAddress_},
                 environment) ||
      !waitFor([&] { return QFile::exists(busSocket) || bus.process->state() == QProcess::NotRunning; },
               kReadyTimeoutMs) ||
      !QFile::exists(busSocket)) {
    restartLater(Scope::Everything, QStringLiteral("le bus de la session n’a pas démarré"));
    return false;
  }
  if (!startDisplay()) return false;
  environment = sessionEnvironment();
  if (!plan_->windowManager.isEmpty()) {
    auto& manager = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("gestionnaire de fenêtres")}));
    if (!startPart(manager, plan_->windowManager, environment)) {
      restartLater(Scope::Everything, QStringLiteral("le gestionnaire de fenêtres n’a pas démarré"));
      return false;
    }
  }
  if (!plan_->desktop.isEmpty()) {
    auto& desktop = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("bureau")}));
    // The desktop starts in the owner's home, as a log-in would.
    desktop.process = new QProcess(this);
    desktop.process->setWorkingDirectory(QDir::homePath());
    if (!startPart(desktop, plan_->desktop, environment)) {
      restartLater(Scope::Everything, QStringLiteral("le bureau n’a pas démarré"));
      return false;
    }
  }
  if (!startHost()) {
    restartLater(Scope::Host, QStringLiteral("l’hôte n’a pas démarré"));
    return false;
  }
  return true;
}

bool SeparateSession::startDisplay() {
  QProcessEnvironment environment = sessionEnvironment();
  if (plan_->wayland) {
    // PipeWire carries the picture from the compositor to the host.
    auto& pipewire = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("PipeWire")}));
    const QString pipewireSocket = runtime_->filePath(QStringLiteral("pipewire-0"));
    if (!startPart(pipewire, {QStringLiteral("pipewire")}, environment) ||
        !waitFor([&] { return QFile::exists(pipewireSocket) || pipewire.process->state() == QProcess::NotRunning; },
                 kReadyTimeoutMs)) {
      restartLater(Scope::Everything, QStringLiteral("PipeWire n’a pas démarré"));
      return false;
    }
    // WirePlumber links the streams; its Bluetooth part would quit where
    // logind has no seat (nobody logged in), so it is left out.
    const QString config = runtime_->filePath(QStringLiteral("config/wireplumber/bluetooth.lua.d"));
    QDir().mkpath(config);
    QFile noLogind(config + QStringLiteral("/51-no-logind.lua"));
    if (noLogind.open(QIODevice::WriteOnly)) noLogind.write("bluez_monitor.properties[\"with-logind\"] = false\n");
    noLogind.close();
    QProcessEnvironment wireplumberEnvironment = environment;
    wireplumberEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime_->filePath(QStringLiteral("config")));
    auto& wireplumber = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("WirePlumber")}));
    if (!startPart(wireplumber, {QStringLiteral("wireplumber")}, wireplumberEnvironment)) {
      restartLater(Scope::Everything, QStringLiteral("WirePlumber n’a pas démarré"));
      return false;
    }
    displayName_ = QStringLiteral("wayland-0");
    auto& compositor = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("affichage")}));
    if (!startPart(compositor, plan_->display, environment)) {
      restartLater(Scope::Everything, QStringLiteral("le compositeur n’a pas démarré"));
      return false;
    }
    const QString socket = runtime_->filePath(displayName_);
    const QString probeName = QStringLiteral("lunor-separate-session-probe");
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress_, probeName);
    const bool ready = waitFor(
        [&] {
          return compositor.process->state() == QProcess::NotRunning ||
                 (QFile::exists(socket) && bus.isConnected() &&
                  bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Mutter.RemoteDesktop")).value());
        },
        kReadyTimeoutMs);
    QDBusConnection::disconnectFromBus(probeName);
    if (!ready || compositor.process->state() == QProcess::NotRunning) {
      const QString why = QStringLiteral("le compositeur ne répond pas");
      // Ended before it was ready: this desktop cannot live here. One still
      // running was only slow, and gets another chance.
      if (compositor.process->state() == QProcess::NotRunning) fallBackToPlain(why);
      restartLater(Scope::Everything, why);
      return false;
    }
    return true;
  }

  // An X server of our own, on the first free display, admitting only
  // holders of this run's cookie.
  QByteArray cookie(16, Qt::Uninitialized);
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(cookie.data()), cookie.size() / 4);
  xauthority_ = runtime_->filePath(QStringLiteral("Xauthority"));
  for (int number = kFirstXDisplay; number < kFirstXDisplay + 40; ++number) {
    const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
    if (!xDisplayFree(number)) continue;
    QFile authority(xauthority_);
    if (!authority.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        authority.write(xauthorityEntry(number, cookie)) < 0) {
      restartLater(Scope::Everything, QStringLiteral("fichier d’autorisation X impossible à écrire"));
      return false;
    }
    authority.close();
    displayName_ = QStringLiteral(":%1").arg(number);
    auto& server = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("affichage")}));
    const Command command = Command{plan_->display.first(), displayName_, QStringLiteral("-auth"), xauthority_} +
                            plan_->display.mid(1);
    if (!startPart(server, command, environment)) break;
    const bool listening = waitFor(
        [&] { return QFile::exists(socket) || server.process->state() == QProcess::NotRunning; }, kReadyTimeoutMs);
    if (listening && server.process->state() == QProcess::Running) {
      QLocalSocket probe;
      probe.connectToServer(socket);
      if (probe.waitForConnected(5000)) return true;
    }
    // Taken meanwhile by another server, most likely: the next number.
    retire(server);
    parts_.pop_back();
  }
  displayName_.clear();
  restartLater(Scope::Everything, QStringLiteral("le serveur X n’a pas démarré"));
  return false;
}

bool xDisplayFree(int number, const QString& tmp) {
  const QString socket = tmp + QStringLiteral("/.X11-unix/X%1").arg(number);
  const QString lock = tmp + QStringLiteral("/.X%1-lock").arg(number);
  QFile lockFile(lock);
  if (lockFile.exists()) {
    // The server's PID, as text.
    if (!lockFile.open(QIODevice::ReadOnly)) return false;
    bool ok = false;
    const qint64 pid = lockFile.read(64).trimmed().toLongLong(&ok);
    lockFile.close();
    if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;  // not one we can judge
    if (::kill(pid_t(pid), 0) == 0 || errno == EPERM) return false;               // its server lives
    QFile::remove(socket);
    return QFile::remove(lock) && !QFile::exists(socket);
  }
  if (!QFile::exists(socket)) return true;
  QLocalSocket probe;
  probe.connectToServer(socket);
  if (probe.waitForConnected(1000)) return false;
  return QFile::remove(socket);
}

bool SeparateSession::startHost() {
  QProcessEnvironment environment = sessionEnvironment();
  // The host knows it shares a desktop of its own: it says so to clients,
  // reads its secrets without a keyring, and leaves the ID to a host in
  // the owner's own session.
  environment.insert(QStringLiteral("LUNOR_SEPARATE_SESSION"), QStringLiteral("1"));
  if (plan_ && plan_->monitorSize.isValid()) {
    environment.insert(QStringLiteral("LUNOR_VIRTUAL_MONITOR"),
                       QStringLiteral("%1x%2").arg(plan_->monitorSize.width()).arg(plan_->monitorSize.height()));
  }
  if (settings_.idleMinutes > 0) {
    environment.insert(QStringLiteral("LUNOR_SEPARATE_SESSION_IDLE_MINUTES"), QString::number(settings_.idleMinutes));
  }
  auto& host = *parts_.emplace_back(std::make_unique<Part>(Part{QStringLiteral("hôte")}));
  if (!startPart(host, hostCommand_, environment)) {
    retire(host);
    parts_.pop_back();
    return false;
  }
  host_ = &host;
  return true;
}

bool SeparateSession::startPart(Part& part, const Command& command, const QProcessEnvironment& environment) {
  if (!part.process) part.process = new QProcess(this);
  QProcess& process = *part.process;
  process.setProcessEnvironment(environment);
  // Their lines go where the launcher's go (the journal, under the unit).
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.setProgram(command.first());
  process.setArguments(command.mid(1));
  connect(&process, &QProcess::finished, this, [this, &part] { partEnded(part); });
  part.started.start();
  process.start();
  if (process.waitForStarted(10000)) return true;
  say(QStringLiteral("❌ Session à part : %1 (%2) ne démarre pas : %3")
          .arg(part.role, command.first(), process.errorString()));
  return false;
}

void SeparateSession::partEnded(Part& part) {
  if (stopping_ || bringingUp_ || restart_.isActive()) return;
  const QProcess& process = *part.process;
  const bool crashed = process.exitStatus() == QProcess::CrashExit;
  const QString how = crashed ? QStringLiteral("arrêté par un signal") : QStringLiteral("code %1").arg(process.exitCode());
  if (&part == host_) {
    if (!crashed && process.exitCode() == exit_code::kSessionIdle) {
      say(QStringLiteral("ℹ️ Session à part inactive depuis %1 min : nouvelle session").arg(settings_.idleMinutes));
      restartLater(Scope::Everything, {});
    } else {
      restartLater(Scope::Host, QStringLiteral("l’hôte s’est arrêté (%1)").arg(how));
    }
    return;
  }
  const bool shortLived = part.started.elapsed() < kShortLivedMs;
  if (part.role == QLatin1String("bureau") && !crashed && process.exitCode() == 0 && !shortLived) {
    say(QStringLiteral("ℹ️ Session à part fermée de l’intérieur : nouvelle session"));
    restartLater(Scope::Everything, {});
    return;
  }
  const QString why = QStringLiteral("%1 arrêté (%2)").arg(part.role, how);
  // The desktop session's own program: GNOME Shell on Wayland (the
  // terminal beside it is a window like any), the entry's on X.
  const QString desktopRole = plan_->wayland ? QStringLiteral("affichage") : QStringLiteral("bureau");
  if (shortLived && part.role == desktopRole) {
    fallBackToPlain(why);
  }
  restartLater(Scope::Everything, why);
}

bool SeparateSession::fallBackToPlain(const QString& why) {
  if (!plan_ || !plan_->fullDesktop) return false;
  SeparateSessionSettings plain = settings_;
  plain.desktop = QLatin1String(SeparateSessionSettings::kPlainDesktop);
  QString error;
  std::optional<SessionPlan> plan = planSession(plain, isInstalled, dataDirs_, &error);
  if (!plan) return false;
  say(QStringLiteral("⚠️ Session à part : %1 ne tient pas ici (%2) ; %3 à sa place").arg(plan_->why, why, plan->why));
  plan_ = std::move(plan);
  return true;
}

void SeparateSession::restartLater(Scope scope, const QString& why) {
  if (stopping_) return;
  const bool settled = scope == Scope::Host ? (host_ && host_->started.elapsed() >= kSettledMs)
                                            : (upSince_.isValid() && upSince_.elapsed() >= kSettledMs);
  int& backoff = scope == Scope::Host ? hostBackoffMs_ : backoffMs_;
  if (settled) backoff = 1000;
  // A fresh session after a log-out or idleness comes at once; a failure
  // waits, longer each time it fails again soon.
  const int delay = why.isEmpty() ? 0 : backoff;
  if (!why.isEmpty()) {
    backoff = std::min(backoff * 2, kMaxBackoffMs);
    say(QStringLiteral("⚠️ Session à part : %1 ; nouvel essai dans %2 s").arg(why).arg(delay / 1000.0));
  }
  if (scope == Scope::Host && host_) {
    retire(*host_);
    parts_.erase(std::find_if(parts_.begin(), parts_.end(), [this](const auto& p) { return p.get() == host_; }));
    host_ = nullptr;
  } else if (scope == Scope::Everything) {
    stopParts();
    upSince_.invalidate();
  }
  pendingScope_ = scope;
  restart_.start(delay);
}

void SeparateSession::retire(Part& part) {
  QProcess* process = std::exchange(part.process, nullptr);
  if (!process) return;
  process->disconnect(this);
  if (process->state() != QProcess::NotRunning) {
    process->terminate();
    if (!process->waitForFinished(5000)) {
      process->kill();
      process->waitForFinished(2000);
    }
  }
  process->deleteLater();
}

void SeparateSession::stopParts() {
  // The host first (its client hears that it ends), the display last.
  for (auto it = parts_.rbegin(); it != parts_.rend(); ++it) retire(**it);
  parts_.clear();
  host_ = nullptr;
}

QProcessEnvironment SeparateSession::sessionEnvironment() const {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  // Nothing of a session the owner may have open here leaks in.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS",
                           "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "XDG_SESSION_ID",
                           "XDG_SEAT", "XDG_VTNR", "DESKTOP_SESSION", "SESSION_MANAGER", "PIPEWIRE_REMOTE",
                           "GNOME_SETUP_DISPLAY", "SWAYSOCK", "QT_QPA_PLATFORM", "GDK_BACKEND"}) {
    environment.remove(QLatin1String(name));
  }
  if (runtime_) environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
  if (!busAddress_.isEmpty()) environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress_);
  environment.insert(QStringLiteral("XDG_SESSION_CLASS"), QStringLiteral("user"));
  if (plan_ && !plan_->desktopNames.isEmpty()) {
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), plan_->desktopNames);
  }
  if (plan_ && plan_->wayland) {
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    if (!displayName_.isEmpty()) environment.insert(QStringLiteral("WAYLAND_DISPLAY"), displayName_);
  } else {
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    if (!displayName_.isEmpty()) {
      environment.insert(QStringLiteral("DISPLAY"), displayName_);
      environment.insert(QStringLiteral("XAUTHORITY"), xauthority_);
    }
  }
  return environment;
}

}  // namespace lunor
