// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/password_setup.h"

#include <termios.h>
#include <unistd.h>

#include <optional>

#include <QSettings>
#include <QString>

#include "session/session_environment.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"

namespace lunor {
namespace {

void say(std::FILE* to, const char* text) {
  std::fputs(text, to);
  std::fflush(to);
}

// One line without its end; nothing at the end of the input.
std::optional<QString> readLine(std::FILE* input) {
  QByteArray line;
  for (int c = std::fgetc(input); c != EOF; c = std::fgetc(input)) {
    if (c == '\n') return QString::fromUtf8(line).remove(QLatin1Char('\r'));
    line.append(static_cast<char>(c));
  }
  if (line.isEmpty()) return std::nullopt;
  return QString::fromUtf8(line);
}

// A line typed on the terminal without echo.
std::optional<QString> readHidden(std::FILE* input, std::FILE* errors, const char* prompt) {
  say(errors, prompt);
  termios saved{};
  const int fd = fileno(input);
  const bool terminal = tcgetattr(fd, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  const auto line = readLine(input);
  if (terminal) tcsetattr(fd, TCSAFLUSH, &saved);
  say(errors, "\n");
  return line;
}

}  // namespace

int setUnattendedPassword(SessionEnvironment& environment, std::FILE* input, std::FILE* errors) {
  std::optional<QString> password;
  if (isatty(fileno(input))) {
    password = readHidden(input, errors, "Unattended access password: ");
    const auto again = readHidden(input, errors, "The same again: ");
    if (password && again && *password != *again) {
      say(errors, "lunor-remote: the two passwords differ; nothing changed.\n");
      return 1;
    }
  } else {
    password = readLine(input);
  }
  if (!password || password->isEmpty()) {
    say(errors, "lunor-remote: no password given; nothing changed.\n");
    return 1;
  }
  saveUnattendedPassword(environment.secretStore(), *password);
  if (loadUnattendedPassword(environment.secretStore()) != password) {
    say(errors, "lunor-remote: the password could not be stored.\n");
    return 1;
  }
  removeUnattendedDigestCopy(environment.settings());
  environment.profileStore().setUnattendedEnabled(true);
  say(errors, "Unattended access is on.\n");
  return 0;
}

int clearUnattendedPassword(SessionEnvironment& environment) {
  saveUnattendedPassword(environment.secretStore(), QString());
  removeUnattendedDigestCopy(environment.settings());
  environment.profileStore().setUnattendedEnabled(false);
  std::fputs("Unattended access is off.\n", stderr);
  return 0;
}

}  // namespace lunor
