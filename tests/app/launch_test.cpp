// SPDX-License-Identifier: GPL-3.0-or-later
// What an operator types: command lines, the terminal's join question, the password.

#include <cstdio>
#include <unistd.h>

#include <QtTest>

#include "app/command_line.h"
#include "app/separate_session.h"
#include "app/password_setup.h"
#include "app/terminal_panels.h"
#include "fake_environment.h"
#include "test_files.h"
#include "store/unattended_password.h"

using namespace lunor;
using Mode = LaunchOptions::Mode;

namespace {

// A command line and what comes of it: an exit code, or (-1) a mode and a host backend.
struct Line {
  QStringList arguments;
  int exitCode = -1;
  Mode mode = Mode::Default;
  std::optional<HostBackend> backend;
};

// A pipe standing in for the terminal's input or output.
struct Pipe {
  Pipe() { std::ignore = ::pipe(fds); }
  ~Pipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void write(const char* text) { std::ignore = ::write(fds[1], text, strlen(text)); }
  QString read() {
    char buffer[512] = {};
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer - 1);
    return n > 0 ? QString::fromUtf8(buffer, int(n)) : QString();
  }
  int fds[2] = {-1, -1};
};

// The host's terminal, on pipes, and the answers its questions got.
struct Terminal {
  explicit Terminal(int answerTimeoutMs) : panels(input.fds[0], output.fds[1], answerTimeoutMs) {}
  // Asks about `requester` (null: it gave no name); the question as shown.
  QString ask(const QString& requester) {
    JoinRequestPrompt prompt;
    prompt.name = requester.isNull() ? "Connexion entrante" : requester;
    prompt.requester = requester;
    prompt.accept = [this] { answers << "accept"; };
    prompt.reject = [this] { answers << "reject"; };
    panels.showJoinRequest(prompt);
    return output.read();
  }

  Pipe input, output;
  TerminalPanels panels;
  QStringList answers;
};

}  // namespace

Q_DECLARE_METATYPE(Line)

class LaunchTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // Exit codes of the refused lines, the mode of the others; the host's
  // platform by name where a host is started ("portal" for Wayland desktops
  // other than GNOME).
  void commandLine_data() {
    QTest::addColumn<Line>("line");
    QTest::newRow("nothing") << Line{{}};
    QTest::newRow("help") << Line{{"--help"}, 0};
    QTest::newRow("version") << Line{{"--version"}, 0};
    QTest::newRow("unknown option") << Line{{"--bogus"}, 2};
    QTest::newRow("missing value") << Line{{"--connect"}, 2};
    QTest::newRow("a stray word") << Line{{"123456789"}, 2};
    QTest::newRow("two modes") << Line{{"--headless-host", "--connect", "1"}, 2};
    QTest::newRow("unknown profile") << Line{{"--headless-client", "1", "--quality", "ultra"}, 2};
    QTest::newRow("no seconds") << Line{{"--headless-client", "1", "--seconds", "0"}, 2};
    QTest::newRow("an option of another mode") << Line{{"--connect", "1", "--seconds", "3"}, 2};
    QTest::newRow("host") << Line{{"--headless-host"}, -1, Mode::HeadlessHost};
    QTest::newRow("window") << Line{{"--connect", "123456789", "--password-file", "p"}, -1, Mode::Connect};
    QTest::newRow("set the password") << Line{{"--set-unattended-password"}, -1, Mode::SetUnattendedPassword};
    QTest::newRow("x11") << Line{{"--headless-host", "--host-backend", "x11"}, -1, Mode::HeadlessHost, HostBackend::X11};
    QTest::newRow("gnome") << Line{{"--host-backend", "gnome"}, -1, Mode::Default, HostBackend::Gnome};
    QTest::newRow("portal")
        << Line{{"--headless-host", "--host-backend", "portal"}, -1, Mode::HeadlessHost, HostBackend::Portal};
    QTest::newRow("unknown backend") << Line{{"--headless-host", "--host-backend", "kde"}, 2};
    QTest::newRow("separate session") << Line{{"--separate-session"}, -1, Mode::SeparateSession};
    QTest::newRow("separate session and a host") << Line{{"--separate-session", "--headless-host"}, 2};
    QTest::newRow("a backend not hosting") << Line{{"--headless-client", "1", "--host-backend", "portal"}, 2};
  }
  void commandLine() {
    QFETCH(Line, line);
    const auto parsed = parseCommandLine(QStringList{"lunor-remote"} + line.arguments);
    if (line.exitCode >= 0) {
      QVERIFY(std::holds_alternative<int>(parsed));
      QCOMPARE(std::get<int>(parsed), line.exitCode);
    } else {
      QVERIFY(std::holds_alternative<LaunchOptions>(parsed));
      QCOMPARE(std::get<LaunchOptions>(parsed).mode, line.mode);
      QCOMPARE(std::get<LaunchOptions>(parsed).hostBackend, line.backend);
    }
  }

  void headlessClientOptions() {
    const auto parsed = parseCommandLine({"lunor-remote", "--headless-client", "123456789", "--quality", "low",
                                          "--seconds", "5", "--save-frame", "f.png", "--json", "f.json"});
    QVERIFY(std::holds_alternative<LaunchOptions>(parsed));
    const auto& options = std::get<LaunchOptions>(parsed);
    QCOMPARE(options.roomId, QString("123456789"));
    QCOMPARE(options.quality, std::optional(QualityProfile::Low));
    QCOMPARE(options.seconds, 5);
    QCOMPARE(options.saveFrame, QString("f.png"));
    QCOMPARE(options.json, QString("f.json"));
  }

  void joinRequestsAreAskedOnTheTerminal_data() {
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QString>("answer");  // empty: none, the request having been withdrawn
    QTest::newRow("yes") << QByteArray("y\n") << "accept";
    QTest::newRow("oui") << QByteArray("OUI\n") << "accept";
    QTest::newRow("no") << QByteArray("n\n") << "reject";
    QTest::newRow("just Return") << QByteArray("\n") << "reject";
    QTest::newRow("no answer") << QByteArray() << "reject";
    QTest::newRow("the terminal closes") << QByteArray("close") << "reject";
    QTest::newRow("withdrawn before the answer") << QByteArray("y\n") << "";
  }
  void joinRequestsAreAskedOnTheTerminal() {
    QFETCH(QByteArray, typed);
    QFETCH(QString, answer);
    Terminal terminal(/*answerTimeoutMs=*/300);
    QCOMPARE(terminal.ask("Alice"), QString("Alice wants to connect: allow? [y/N] "));
    if (answer.isEmpty()) terminal.panels.dismissJoinRequest();
    if (typed == "close") {
      ::close(terminal.input.fds[1]);
      terminal.input.fds[1] = ::dup(terminal.output.fds[1]);  // keeps the destructor's close harmless
    } else if (!typed.isEmpty()) {
      terminal.input.write(typed.constData());
    }
    if (answer.isEmpty()) {
      QTest::qWait(500);
      QVERIFY(terminal.answers.isEmpty());
    } else {
      QTRY_COMPARE(terminal.answers, QStringList{answer});
    }
  }

  // The name is the requester's choice: on the terminal it is text only.
  void theQuestionShowsTheNameAsText_data() {
    QTest::addColumn<QString>("requester");  // null: it gave none
    QTest::addColumn<QString>("question");
    QTest::newRow("escape sequences") << "Eve\x1b[1A\x1b[2K\rAlice"
                                      << "Eve[1A[2K Alice wants to connect: allow? [y/N] ";
    QTest::newRow("no name") << QString() << "A client with no name wants to connect: allow? [y/N] ";
  }
  void theQuestionShowsTheNameAsText() {
    QFETCH(QString, requester);
    QFETCH(QString, question);
    QCOMPARE(Terminal(60000).ask(requester), question);
  }

  // What the separate session runs, from what this machine has.
  void theSeparateSessionRunsWhatIsInstalled_data() {
    QTest::addColumn<QString>("display");  // the setting
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("plan");  // display's program | desktop's command | window manager; or "error"
    const QStringList x{"Xvfb", "xterm", "twm", "mutter"};
    QTest::newRow("auto, no Wayland terminal: X") << "auto" << "" << x << "Xvfb|xterm|twm";
    QTest::newRow("auto, with foot: Wayland") << "auto" << "" << x + QStringList{"foot"} << "mutter|foot|";
    QTest::newRow("an installed entry") << "x11" << "xfce" << x + QStringList{"startxfce4"} << "Xvfb|startxfce4|";
    QTest::newRow("the first known desktop") << "x11" << "" << x + QStringList{"startxfce4"} << "Xvfb|startxfce4|";
    QTest::newRow("an entry whose program is missing") << "x11" << "xfce" << x << "Xvfb|xterm|twm";
    QTest::newRow("a name out of the folder") << "x11" << "../xsessions/xfce" << x + QStringList{"startxfce4"}
                                              << "Xvfb|xterm|twm";
    QTest::newRow("Xvnc before Xvfb") << "x11" << "" << x + QStringList{"Xvnc"} << "Xvnc|xterm|twm";
    QTest::newRow("GNOME Shell where installed") << "auto" << "" << x + QStringList{"gnome-shell", "foot"}
                                                 << "gnome-shell|foot|";
    QTest::newRow("plain: Mutter beside GNOME Shell") << "auto" << "plain" << x + QStringList{"gnome-shell", "foot"}
                                                      << "mutter|foot|";
    QTest::newRow("plain: no entry on X") << "x11" << "plain" << x + QStringList{"startxfce4"} << "Xvfb|xterm|twm";
    QTest::newRow("plain, GNOME Shell but no Wayland terminal: X") << "auto" << "plain"
                                                                   << x + QStringList{"gnome-shell"} << "Xvfb|xterm|twm";
    QTest::newRow("Wayland without a terminal") << "wayland" << "" << x << "error";
    QTest::newRow("no X server") << "x11" << "" << QStringList{"xterm"} << "error";
    QTest::newRow("no terminal, no desktop") << "x11" << "" << QStringList{"Xvfb", "twm"} << "error";
  }
  void theSeparateSessionRunsWhatIsInstalled() {
    QFETCH(QString, display);
    QFETCH(QString, desktop);
    QFETCH(QStringList, installed);
    QFETCH(QString, plan);
    QTemporaryDir data;
    QDir().mkpath(data.filePath("xsessions"));
    test::writeFile(data.filePath("xsessions/xfce.desktop"),
                    "[Desktop Entry]\nName=Xfce\nExec=startxfce4 %f\nDesktopNames=XFCE;\n");
    QSettings settings(data.filePath("settings.ini"), QSettings::IniFormat);
    settings.setValue("separateSession/display", display);
    settings.setValue("separateSession/desktop", desktop);
    QString error;
    const auto planned = planSession(SeparateSessionSettings::read(settings),
                                     [&](const QString& program) { return installed.contains(program); },
                                     {data.path()}, &error);
    if (plan == "error") {
      QVERIFY(!planned);
      QVERIFY(!error.isEmpty());
      return;
    }
    QVERIFY2(planned, qPrintable(error));
    QCOMPARE(planned->display.first() + "|" + planned->desktop.join(' ') + "|" + planned->windowManager.join(' '), plan);
  }

  // A killed X server leaves its lock and socket: they must not keep the
  // separate session from ever finding a display number again.
  void xDisplayNumbers_data() {
    QTest::addColumn<QString>("lockPid");  // empty: no lock
    QTest::addColumn<bool>("socket");
    QTest::addColumn<bool>("free");
    QTest::newRow("nothing there") << QString() << false << true;
    QTest::newRow("a live server's") << QString::number(QCoreApplication::applicationPid()) << true << false;
    QTest::newRow("a killed server's") << "999999999" << true << true;
    QTest::newRow("a lock that says no PID") << "x" << true << false;
    QTest::newRow("a socket nobody answers") << QString() << true << true;
  }
  void xDisplayNumbers() {
    QFETCH(QString, lockPid);
    QFETCH(bool, socket);
    QTemporaryDir tmp;
    QDir(tmp.path()).mkpath(".X11-unix");
    const QString socketPath = tmp.filePath(".X11-unix/X7");
    if (socket) test::writeFile(socketPath, "");
    if (!lockPid.isNull()) test::writeFile(tmp.filePath(".X7-lock"), ("      " + lockPid + "\n").toUtf8());
    QTEST(xDisplayFree(7, tmp.path()), "free");
    if (xDisplayFree(7, tmp.path())) QVERIFY(!QFile::exists(socketPath));
  }

  void unattendedPasswordFromStandardInput() {
    test::FakeEnvironment environment;
    environment.settings().setValue(kUnattendedHashKey, unattendedPasswordHash("old"));
    FILE* typed = tmpfile();
    std::fputs("s3cret\n", typed);
    std::rewind(typed);
    FILE* quiet = tmpfile();
    QCOMPARE(setUnattendedPassword(environment, typed, quiet), 0);
    QCOMPARE(loadUnattendedPassword(environment.secretStore()), std::optional<QString>("s3cret"));
    QVERIFY(environment.profileStore().unattendedEnabled());
    // The digest is as good as the password: it is kept nowhere else, and
    // a copy an earlier version left goes.
    QVERIFY(!environment.settings().contains(kUnattendedHashKey));

    FILE* empty = tmpfile();
    QCOMPARE(setUnattendedPassword(environment, empty, quiet), 1);
    QCOMPARE(loadUnattendedPassword(environment.secretStore()), std::optional<QString>("s3cret"));  // unchanged

    environment.settings().setValue(kUnattendedHashKey, unattendedPasswordHash("s3cret"));
    QCOMPARE(clearUnattendedPassword(environment), 0);
    QVERIFY(!environment.settings().contains(kUnattendedHashKey));
    QVERIFY(!environment.profileStore().unattendedEnabled());
    QVERIFY(!loadUnattendedPassword(environment.secretStore()).value_or(QString()).size());
    std::fclose(typed);
    std::fclose(empty);
    std::fclose(quiet);
  }
};

QTEST_GUILESS_MAIN(LaunchTest)
#include "launch_test.moc"
