// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What lunor-remote was asked to do. One mode at a time; options that
// belong to another mode, unknown options and missing values are errors.

#include <optional>
#include <variant>

#include <QString>
#include <QStringList>

#include "app/host_backend.h"
#include "protocol/quality_profile.h"

namespace lunor {

struct LaunchOptions {
  enum class Mode {
    Default,          // no mode given
    HeadlessHost,     // --headless-host
    Connect,          // --connect ID: the client window
    HeadlessClient,   // --headless-client ID
    SetUnattendedPassword,
    ClearUnattendedPassword,
    SeparateSession,          // --separate-session: a desktop of its own, shared
    EnableUnattendedSession,  // --enable-unattended-session
  };
  Mode mode = Mode::Default;
  QString roomId;
  QString passwordFile;  // --password-file: the host's password, first line
  std::optional<QualityProfile> quality;
  int seconds = 0;       // from the first picture; 0: until the session ends
  QString saveFrame;
  QString replay;
  QString json;
  std::optional<QString> clipboardSet;  // --clipboard-set: put this text in the clipboard first
  bool clipboardPrint = false;          // --clipboard-print: print what the host's clipboard sends
  QStringList sendFiles;                // --send-file, each: sent to the host, then the session ends
  QString receiveDir;                   // --receive-dir: where the host's files go
  // --host-backend: which platform a host shares; nothing to choose from the session.
  std::optional<HostBackend> hostBackend;
};

// Exit codes of lunor-remote.
namespace exit_code {
inline constexpr int kOk = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;
inline constexpr int kRefused = 3;        // the host's user said no, or it is busy
inline constexpr int kHostNotFound = 4;
inline constexpr int kPasswordWrong = 5;  // also: a password is needed and none was given
inline constexpr int kConnectionLost = 6;
inline constexpr int kServerUnreachable = 7;  // no signaling server, after every retry
inline constexpr int kNoAnswer = 8;           // the host's user did not answer in time
inline constexpr int kInterrupted = 9;        // stopped (a signal) before any picture
inline constexpr int kNoConnection = 10;      // let in, but the peer connection never came up
inline constexpr int kHostIdentity = 11;      // the host is not the one met before, or not who it says
inline constexpr int kSessionIdle = 12;       // a separate session's host, nobody connected for the set time
}  // namespace exit_code

// The options in `arguments` (program name first). --help and --version
// print to standard output and give 0; an error prints itself and the usage
// to standard error and gives exit_code::kUsage.
std::variant<LaunchOptions, int> parseCommandLine(const QStringList& arguments);

}  // namespace lunor
