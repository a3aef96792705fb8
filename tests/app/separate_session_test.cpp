// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-remote --separate-session started as its unit starts it (nobody
// logged in: no display, no session bus in its environment), on an X
// server of its own and on a headless Mutter: the host joins the server,
// a client with the password types into the session's terminal, leaves,
// and the next client finds the same terminal; a display that dies is
// brought up again.

#include <csignal>

#include <QDir>
#include <QSettings>
#include <QtTest>

#include "remote_process.h"
#include "signal_server_process.h"
#include "test_files.h"

using namespace lunor;

namespace {

constexpr char kPassword[] = "sans surveillance";

// macOS virtual key codes, as the wire carries them.
int keyCode(QChar c) {
  static const QHash<QChar, int> codes = {
      {'a', 0}, {'s', 1}, {'d', 2}, {'f', 3}, {'h', 4}, {'g', 5}, {'z', 6}, {'x', 7}, {'c', 8}, {'v', 9},
      {'b', 11}, {'q', 12}, {'w', 13}, {'e', 14}, {'r', 15}, {'y', 16}, {'t', 17}, {'o', 31}, {'u', 32},
      {'i', 34}, {'p', 35}, {'\n', 36}, {'l', 37}, {'j', 38}, {'k', 40}, {'n', 45}, {'m', 46}, {' ', 49}};
  return codes.value(c, -1);
}

// A replay file clicking at `at` (the terminal, to give it the focus) and
// typing `text`, once the host's input is surely up.
QByteArray typing(QPointF at, const QString& text) {
  QByteArray lines;
  for (const char* type : {"move", "mdown", "mup"}) {
    if (at.isNull()) break;
    lines += QString(R"({"after":%1,"t":"%2","b":0,"x":%3,"y":%4})")
                 .arg(lines.isEmpty() ? 2500 : 50).arg(type).arg(at.x()).arg(at.y()).toUtf8() + "\n";
  }
  int after = lines.isEmpty() ? 3000 : 500;
  for (QChar c : text) {
    lines += QString(R"({"after":%1,"t":"keydown","keyCode":%2})").arg(after).arg(keyCode(c)).toUtf8() + "\n";
    lines += QString(R"({"after":30,"t":"keyup","keyCode":%1})").arg(keyCode(c)).toUtf8() + "\n";
    after = 60;
  }
  return lines;
}

// The launcher's child running `program` (its first word's file name).
qint64 childRunning(qint64 parent, const QString& program) {
  for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
    bool ok = false;
    const qint64 pid = entry.toLongLong(&ok);
    if (!ok) continue;
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).trimmed().split(' ');
    if (fields.value(1).toLongLong() != parent) continue;
    QFile cmdline(QString("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly)) continue;
    if (QFileInfo(QString::fromLocal8Bit(cmdline.readAll().split('\0').value(0))).fileName() == program) return pid;
  }
  return 0;
}

}  // namespace

class SeparateSessionTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::SignalServerProcess> server;
  QTemporaryDir folder;

 private Q_SLOTS:
  void initTestCase() {
    server = std::make_unique<test::SignalServerProcess>();
    QVERIFY(server->isListening());
  }

  void aDesktopOfItsOwnOutlivesItsClients_data() {
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QStringList>("servers");  // the display's program, killed at the end
    QTest::addColumn<QPointF>("terminal");  // where its terminal opens, to click it; null: it has the focus
    // The second client asks for its view's size: what its last picture has.
    QTest::addColumn<QSize>("fitted");
    const bool xvnc = !QStandardPaths::findExecutable("Xvnc").isEmpty();
    QTest::newRow("X server of its own") << "x11" << "plain" << QStringList{xvnc ? "Xvnc" : "Xvfb"} << QPointF(0.15, 0.25)
                                         << (xvnc ? QSize(1000, 700) : QSize(1280, 720));
    QTest::newRow("headless Mutter") << "wayland" << "plain" << QStringList{"mutter"} << QPointF() << QSize(1000, 700);
    // GNOME's own desktop, as a stock machine has it: GNOME Shell where it
    // can live (not without a system bus), else the plain session.
    QTest::newRow("GNOME as installed") << "auto" << "" << QStringList{"gnome-shell", "mutter"} << QPointF()
                                        << QSize(1000, 700);
  }
  void aDesktopOfItsOwnOutlivesItsClients() {
    QFETCH(QString, display);
    QFETCH(QString, desktop);
    QFETCH(QStringList, servers);
    if (servers.contains("gnome-shell") && QStandardPaths::findExecutable("gnome-shell").isEmpty()) {
      QSKIP("GNOME Shell is not installed");
    }
    QFETCH(QPointF, terminal);
    QFETCH(QSize, fitted);
    const QString home = folder.filePath(display);
    QDir().mkpath(home);
    test::RemoteProcess session(LUNOR_REMOTE_BINARY, this->server->url(), QString());
    session.allowUnattended(kPassword);
    {
      QSettings settings(session.folder() + "/config/LunorRemote/LunorRemote.conf", QSettings::IniFormat);
      settings.setValue("separateSession/display", display);
      settings.setValue("separateSession/size", "1280x720");
      settings.setValue("separateSession/desktop", desktop);
    }
    QProcessEnvironment env;
    env.insert("HOME", home);
    session.setEnvironment(env);
    QVERIFY(session.start({"--separate-session"}));
    const QString room = session.roomId(60000);
    QVERIFY2(!room.isEmpty() && session.waitForOutput("unattended=true", 30000), qPrintable(session.output().right(2500)));

    // The first client sees the desktop and starts a command in its terminal…
    test::RemoteProcess first(LUNOR_REMOTE_BINARY, this->server->url(), QString());
    const QString picture = folder.filePath(display + ".png");
    const QString firstTyping = folder.filePath(display + "-first.jsonl");
    test::writeFile(firstTyping, typing(terminal, "touch lunor"));
    QVERIFY(first.startClient(room, kPassword, {"--seconds", "6", "--replay", firstTyping, "--save-frame", picture}));
    QCOMPARE(first.exitCode(60000), 0);
    QVERIFY2(first.output().contains("session à part"),
             qPrintable(first.output()));
    QCOMPARE(QImage(picture).size(), QSize(1280, 720));

    // … and the next one finishes it in the same terminal.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   const QString output = session.output();
                   return output.lastIndexOf("Room créée") > output.lastIndexOf("Teardown");
                 },
                 30000),
             qPrintable(session.output().right(2500)));
    test::RemoteProcess second(LUNOR_REMOTE_BINARY, this->server->url(), QString());
    const QString secondTyping = folder.filePath(display + "-second.jsonl");
    test::writeFile(secondTyping, typing(terminal, "again\n") + R"({"after":200,"t":"screenSize","w":1000,"h":700})" "\n");
    const QString fittedPicture = folder.filePath(display + "-fitted.png");
    QVERIFY(second.startClient(room, kPassword, {"--seconds", "8", "--replay", secondTyping, "--save-frame", fittedPicture}));
    QVERIFY2(second.exitCode(60000) == 0, qPrintable(second.output().right(1500)));
    QCOMPARE(QImage(fittedPicture).size(), fitted);
    // A GNOME Shell that did come up (a machine with a system bus) may
    // greet with its overview, which takes the keys: the terminal is
    // checked where the plain desktop runs.
    const bool plain = !servers.contains("gnome-shell") || session.output().contains("ne tient pas ici");
    QVERIFY2(!plain || QTest::qWaitFor([&] { return QFile::exists(home + "/lunoragain"); }, 15000),
             qPrintable(session.output().right(2500)));

    // The display dies: everything comes up again, under the same ID.
    qint64 pid = 0;
    for (const QString& server : servers) pid = pid ? pid : childRunning(session.process().processId(), server);
    QVERIFY2(pid > 0, qPrintable(servers.join(' ')));
    const qsizetype before = session.output().count("Session à part prête");
    ::kill(pid_t(pid), SIGKILL);
    QVERIFY2(QTest::qWaitFor([&] { return session.output().count("Session à part prête") > before; }, 60000),
             qPrintable(session.output().right(2500)));
    QVERIFY2(QTest::qWaitFor([&] { return session.output().count("ID de session : " + room) >= 2; }, 30000),
             qPrintable(session.output().right(2500)));
    QCOMPARE(session.stop(), 0);
  }

  void cleanupTestCase() { server.reset(); }
};

QTEST_GUILESS_MAIN(SeparateSessionTest)
#include "separate_session_test.moc"
