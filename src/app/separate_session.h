// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A desktop of its own for unattended access, with nobody logged in: a
// private display (a headless Mutter on Wayland where one is installed,
// else an X server of our own), a desktop session in it (the settings'
// choice, the first known one installed, else a plain window manager and a
// terminal) and a headless host sharing it. Nothing of it shows on a
// physical screen; its display, bus and runtime directory are this user's
// alone (an X server of ours admits only holders of its cookie).
//
// What stops is started again: the host alone when it crashed (the windows
// stay), everything when the display or the desktop went (logged out from
// the inside, idle too long, crashed), after 1 s, then 2, 4, … up to 30 s
// while it keeps failing. A desktop session that cannot live here (GNOME
// Shell without a system bus, a session manager that wants a log-in) gives
// way to the plain one until the launcher starts again.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

class QSettings;

namespace lunor {

struct SeparateSessionSettings {
  enum class Display { Automatic, X11, Wayland };
  Display display = Display::Automatic;
  // A session entry's file name without ".desktop" (of xsessions, or of
  // wayland-sessions on Wayland); empty: the first known desktop installed;
  // kPlainDesktop: a window manager (or Mutter) and a terminal only.
  QString desktop;
  static constexpr char kPlainDesktop[] = "plain";
  QSize size{1920, 1080};
  int idleMinutes = 0;  // without a client, before the session starts afresh; 0: never

  // "separateSession/display" ("auto", "x11", "wayland"), "…/desktop",
  // "…/size" ("1920x1080"), "…/idleMinutes"; what cannot be read is the default.
  static SeparateSessionSettings read(QSettings& settings);
};

// A program to run and its arguments, the first of which is the program.
using Command = QStringList;

// Whether X display `number` is free to start a server on, the X files
// being under `tmp` ("/tmp": .X11-unix/X<n> and .X<n>-lock). A lock whose
// process is gone, left by a server that was killed, does not hold the
// number: it goes, with the server's socket, as X servers themselves treat
// such a lock. A socket without a lock holds it only while something
// answers there.
bool xDisplayFree(int number, const QString& tmp = QStringLiteral("/tmp"));

// What the session runs, found on this machine.
struct SessionPlan {
  bool wayland = false;
  Command display;      // the X server (":N" appended) or the compositor
  Command desktop;      // the session's main program: its end is the session's
  Command windowManager;  // X only, beside a plain terminal
  QString desktopNames;   // XDG_CURRENT_DESKTOP
  QString why;          // for the log
  bool fullDesktop = false;  // a desktop session (GNOME Shell, an entry), not the plain one
  QSize monitorSize;         // Wayland: the size of the monitor made for a client
};

// The plan for `settings` on this machine: which programs exist is asked of
// `installed` (a program name, or an absolute path); session entries are
// read from `dataDirs` ("xsessions" and "wayland-sessions" in each). An
// error when nothing can show a desktop.
std::optional<SessionPlan> planSession(const SeparateSessionSettings& settings,
                                       const std::function<bool(const QString&)>& installed,
                                       const QStringList& dataDirs, QString* error);

class SeparateSession final : public QObject {
  Q_OBJECT

 public:
  // host: the headless host's command (lunor-remote --headless-host).
  SeparateSession(SeparateSessionSettings settings, Command host);
  ~SeparateSession() override;

  // Brings up the display, the desktop and the host; false, with error(),
  // when this machine has nothing to show a desktop with. A part that does
  // not come up is tried again later.
  bool start();
  // Stops the host first (its client hears it), then the desktop and the display.
  void stop();
  QString error() const { return error_; }

 private:
  struct Part;
  enum class Scope { Host, Everything };

  void bringUp();
  bool bringUpParts();
  bool startPart(Part& part, const Command& command, const QProcessEnvironment& environment);
  bool startDisplay();
  bool startHost();
  void partEnded(Part& part);
  // The plain desktop from now on, after `why`; false when the plan is
  // the plain one already, or nothing plain can run here.
  bool fallBackToPlain(const QString& why);
  void restartLater(Scope scope, const QString& why);
  void retire(Part& part);
  void stopParts();
  QProcessEnvironment sessionEnvironment() const;

  SeparateSessionSettings settings_;
  Command hostCommand_;
  std::optional<SessionPlan> plan_;
  QStringList dataDirs_;  // where session entries are looked for
  std::unique_ptr<QTemporaryDir> runtime_;  // this run's sockets, bus and cookie
  QString busAddress_;
  QString displayName_;  // ":N" on X, the socket's name on Wayland
  QString xauthority_;
  std::vector<std::unique_ptr<Part>> parts_;  // in start order; stopped last first
  Part* host_ = nullptr;
  QTimer restart_;
  Scope pendingScope_ = Scope::Everything;
  int backoffMs_ = 1000;
  int hostBackoffMs_ = 1000;
  QElapsedTimer upSince_;
  bool stopping_ = false;
  bool bringingUp_ = false;
  QString error_;
};

}  // namespace lunor
