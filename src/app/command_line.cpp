// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <cstdio>

#include <QCommandLineParser>

namespace lunor {
namespace {

void print(FILE* to, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
  std::fflush(to);
}

}  // namespace

std::variant<LaunchOptions, int> parseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Lunor Remote: share this computer's screen, or see and drive another's.\n\n"
      "Without a mode, the application opens its window; this computer can be reached\n"
      "by its session ID from launch. --headless-host shares it without a window."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version."));
  const QCommandLineOption headlessHost(QStringLiteral("headless-host"),
                                        QStringLiteral("Share this computer without a window; a join is asked "
                                                       "on the terminal when there is one."));
  const QCommandLineOption connect(QStringLiteral("connect"),
                                   QStringLiteral("Open a window showing the host <ID>."), QStringLiteral("ID"));
  const QCommandLineOption headlessClient(QStringLiteral("headless-client"),
                                          QStringLiteral("Join the host <ID> without a window and report what "
                                                         "arrives, a line a second."),
                                          QStringLiteral("ID"));
  const QCommandLineOption setPassword(QStringLiteral("set-unattended-password"),
                                       QStringLiteral("Switch unattended access on with a password read from "
                                                      "the terminal (twice) or standard input."));
  const QCommandLineOption clearPassword(QStringLiteral("clear-unattended-password"),
                                         QStringLiteral("Switch unattended access off."));
  const QCommandLineOption separateSession(QStringLiteral("separate-session"),
                                           QStringLiteral("Run a desktop of this computer's own, on a private "
                                                          "display nothing shows, with a host sharing it (what "
                                                          "lunor-remote-session.service runs)."));
  const QCommandLineOption enableSession(QStringLiteral("enable-unattended-session"),
                                         QStringLiteral("Make this computer reachable from boot, nobody logged "
                                                        "in: keeps its secrets readable without a keyring, "
                                                        "switches lingering on and enables "
                                                        "lunor-remote-session.service."));
  const QCommandLineOption passwordFile(QStringLiteral("password-file"),
                                        QStringLiteral("With --connect or --headless-client: the host's password "
                                                       "is the first line of <file>."),
                                        QStringLiteral("file"));
  const QCommandLineOption quality(QStringLiteral("quality"),
                                   QStringLiteral("With --headless-client: ask the host for this profile "
                                                  "(low, medium, high, epic)."),
                                   QStringLiteral("profile"));
  const QCommandLineOption seconds(QStringLiteral("seconds"),
                                   QStringLiteral("With --headless-client: end the session <N> seconds after "
                                                  "the first picture (the waits before it have their own "
                                                  "bounds)."),
                                   QStringLiteral("N"));
  const QCommandLineOption saveFrame(QStringLiteral("save-frame"),
                                     QStringLiteral("With --headless-client: write the last picture received to "
                                                    "<file> (PNG)."),
                                     QStringLiteral("file"));
  const QCommandLineOption replay(QStringLiteral("replay"),
                                  QStringLiteral("With --headless-client: send the control messages of <file>, "
                                                 "one JSON object a line, each \"after\" its delay in ms "
                                                 "({\"switchDisplay\": N} asks for another display)."),
                                  QStringLiteral("file"));
  const QCommandLineOption json(QStringLiteral("json"),
                                QStringLiteral("With --headless-client: write the figures to <file> as JSON."),
                                QStringLiteral("file"));
  const QCommandLineOption clipboardSet(QStringLiteral("clipboard-set"),
                                        QStringLiteral("With --headless-client: put <text> in this side's "
                                                       "clipboard; it goes to the host once the session "
                                                       "shares clipboards."),
                                        QStringLiteral("text"));
  const QCommandLineOption clipboardPrint(QStringLiteral("clipboard-print"),
                                          QStringLiteral("With --headless-client: print each content the host's "
                                                         "clipboard sends (a picture as its size)."));
  const QCommandLineOption sendFile(QStringLiteral("send-file"),
                                    QStringLiteral("With --headless-client: send <file> to the host (the option "
                                                   "may be repeated); without --seconds the session ends once "
                                                   "every file has arrived or failed."),
                                    QStringLiteral("file"));
  const QCommandLineOption receiveDir(QStringLiteral("receive-dir"),
                                      QStringLiteral("With --headless-client: put the files the host sends in "
                                                     "<dir> (by default the Downloads folder's \"Lunor Remote\")."),
                                      QStringLiteral("dir"));
  const QCommandLineOption hostBackend(QStringLiteral("host-backend"),
                                       QStringLiteral("Share this computer through <backend>: x11, gnome (a "
                                                      "GNOME Wayland session) or portal (another Wayland "
                                                      "desktop's portal, KDE Plasma for one: a person chooses "
                                                      "the screen the first time); by default, the session's "
                                                      "own."),
                                       QStringLiteral("backend"));
  parser.addOptions({help, version, headlessHost, connect, headlessClient, setPassword, clearPassword,
                     separateSession, enableSession, passwordFile, quality, seconds, saveFrame, replay, json, clipboardSet, clipboardPrint,
                     sendFile, receiveDir, hostBackend});

  // Parsed before the application object exists, which would give the name.
  auto helpText = [&] {
    return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("lunor-remote"));
  };
  auto usageError = [&](const QString& message) {
    print(stderr, QStringLiteral("lunor-remote: ") + message + QStringLiteral("\n\n") + helpText());
    return exit_code::kUsage;
  };
  if (!parser.parse(arguments)) return usageError(parser.errorText());
  if (!parser.positionalArguments().isEmpty()) {
    return usageError(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
  }
  if (parser.isSet(help)) {
    print(stdout, helpText());
    return exit_code::kOk;
  }
  if (parser.isSet(version)) {
    print(stdout, QStringLiteral("lunor-remote " LUNOR_VERSION "\n"));
    return exit_code::kOk;
  }

  LaunchOptions options;
  int modes = 0;
  auto mode = [&](const QCommandLineOption& option, LaunchOptions::Mode value) {
    if (!parser.isSet(option)) return;
    ++modes;
    options.mode = value;
  };
  mode(headlessHost, LaunchOptions::Mode::HeadlessHost);
  mode(connect, LaunchOptions::Mode::Connect);
  mode(headlessClient, LaunchOptions::Mode::HeadlessClient);
  mode(setPassword, LaunchOptions::Mode::SetUnattendedPassword);
  mode(clearPassword, LaunchOptions::Mode::ClearUnattendedPassword);
  mode(separateSession, LaunchOptions::Mode::SeparateSession);
  mode(enableSession, LaunchOptions::Mode::EnableUnattendedSession);
  if (modes > 1) return usageError(QStringLiteral("one mode at a time"));

  const bool client = options.mode == LaunchOptions::Mode::HeadlessClient;
  if (options.mode == LaunchOptions::Mode::Connect) options.roomId = parser.value(connect);
  if (client) options.roomId = parser.value(headlessClient);
  if ((client || options.mode == LaunchOptions::Mode::Connect) && options.roomId.trimmed().isEmpty()) {
    return usageError(QStringLiteral("the host's ID is empty"));
  }
  if (parser.isSet(passwordFile)) {
    if (!client && options.mode != LaunchOptions::Mode::Connect) {
      return usageError(QStringLiteral("--password-file goes with --connect or --headless-client"));
    }
    options.passwordFile = parser.value(passwordFile);
  }
  for (const auto* option : {&quality, &seconds, &saveFrame, &replay, &json, &clipboardSet, &clipboardPrint, &sendFile,
                             &receiveDir}) {
    if (parser.isSet(*option) && !client) {
      return usageError(QStringLiteral("--") + option->names().first() + QStringLiteral(" goes with --headless-client"));
    }
  }
  if (parser.isSet(quality)) {
    options.quality = qualityFromRaw(parser.value(quality));
    if (!options.quality) return usageError(QStringLiteral("unknown profile: ") + parser.value(quality));
  }
  if (parser.isSet(seconds)) {
    bool ok = false;
    options.seconds = parser.value(seconds).toInt(&ok);
    if (!ok || options.seconds <= 0) return usageError(QStringLiteral("--seconds takes a whole number above 0"));
  }
  if (parser.isSet(hostBackend)) {
    const bool hosts = options.mode == LaunchOptions::Mode::HeadlessHost || options.mode == LaunchOptions::Mode::Default ||
                       options.mode == LaunchOptions::Mode::Connect;
    if (!hosts) return usageError(QStringLiteral("--host-backend goes with the application or --headless-host"));
    options.hostBackend = hostBackendFromName(parser.value(hostBackend));
    if (!options.hostBackend) return usageError(QStringLiteral("unknown host backend: ") + parser.value(hostBackend));
  }
  options.saveFrame = parser.value(saveFrame);
  options.replay = parser.value(replay);
  options.json = parser.value(json);
  if (parser.isSet(clipboardSet)) options.clipboardSet = parser.value(clipboardSet);
  options.clipboardPrint = parser.isSet(clipboardPrint);
  options.sendFiles = parser.values(sendFile);
  options.receiveDir = parser.value(receiveDir);
  return options;
}

}  // namespace lunor
