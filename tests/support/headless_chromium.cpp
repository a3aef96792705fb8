// SPDX-License-Identifier: GPL-3.0-or-later
#include "headless_chromium.h"

#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "child_process.h"

namespace lunor::test {

HeadlessChromium::HeadlessChromium() {
  QObject::connect(&devtools_, &QWebSocket::textMessageReceived, [this](const QString& text) {
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    // Events have no id; only replies are kept.
    if (message.contains("id")) replies_.insert(message.value("id").toInt(), message);
  });
}

HeadlessChromium::~HeadlessChromium() {
  closePage();
  devtools_.close();
  if (browser_.state() != QProcess::NotRunning) {
    browser_.terminate();
    if (!browser_.waitForFinished(5000)) browser_.kill();
    browser_.waitForFinished(2000);
  }
}

bool HeadlessChromium::installed() { return !QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty(); }

bool HeadlessChromium::launch() {
  if (devtools_.state() == QAbstractSocket::ConnectedState) return true;
  browser_.setProcessChannelMode(QProcess::SeparateChannels);
  browser_.setStandardOutputFile(QProcess::nullDevice());
  QStringList arguments{"--headless=new",
                        "--no-first-run",
                        "--no-default-browser-check",
                        "--user-data-dir=" + profileDir_.path(),
                        "--remote-debugging-port=0",
                        // Host candidates as addresses, not mDNS names our host cannot resolve.
                        "--disable-features=WebRtcHideLocalIpsWithMdns",
                        "--autoplay-policy=no-user-gesture-required",
                        // The benchmark's receiver page imports the web client's modules from the tree.
                        "--allow-file-access-from-files",
                        "--window-size=1280,800",
                        "about:blank"};
  if (getuid() == 0) arguments.prepend("--no-sandbox");
  dieWithTest(browser_);
  browser_.start("chromium", arguments);
  if (!browser_.waitForStarted(10000)) {
    error_ = "chromium did not start (scripts/install-deps.sh installs it)";
    return false;
  }
  static const QRegularExpression listening("DevTools listening on (ws://\\S+)");
  QString endpoint;
  QByteArray err;
  std::ignore = QTest::qWaitFor(
      [&] {
        err += browser_.readAllStandardError();
        const auto match = listening.match(QString::fromUtf8(err));
        if (match.hasMatch()) endpoint = match.captured(1);
        return !endpoint.isEmpty() || browser_.state() == QProcess::NotRunning;
      },
      20000);
  if (endpoint.isEmpty()) {
    error_ = "chromium did not open its DevTools endpoint: " + QString::fromUtf8(err.right(500));
    return false;
  }
  devtools_.open(QUrl(endpoint));
  if (!QTest::qWaitFor([&] { return devtools_.state() == QAbstractSocket::ConnectedState; }, 10000)) {
    error_ = "cannot reach chromium's DevTools endpoint";
    return false;
  }
  return true;
}

bool HeadlessChromium::open(const QUrl& page) {
  if (!launch()) return false;
  closePage();
  const auto target = call("Target.createTarget", {{"url", page.toString(QUrl::FullyEncoded)}});
  if (!target) return false;
  target_ = target->value("targetId").toString();
  const auto attached = call("Target.attachToTarget", {{"targetId", target_}, {"flatten", true}});
  if (!attached) return false;
  session_ = attached->value("sessionId").toString();
  const bool loaded = QTest::qWaitFor(
      [&] {
        return evaluate("location.href !== 'about:blank' && document.readyState === 'complete'")
            .value_or(QJsonValue())
            .toBool();
      },
      60000);
  if (!loaded && error_.isEmpty()) error_ = page.toString() + ": not loaded";
  return loaded;
}

QString HeadlessChromium::literal(const QString& text) {
  const QString array = QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
  return array.mid(1, array.size() - 2);
}

void HeadlessChromium::closePage() {
  if (target_.isEmpty()) return;
  std::ignore = call("Target.closeTarget", {{"targetId", target_}});
  session_.clear();
  target_.clear();
}

std::optional<QJsonObject> HeadlessChromium::call(const QString& method, const QJsonObject& params, bool onPage) {
  const int id = nextId_++;
  QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
  if (onPage && !session_.isEmpty()) message["sessionId"] = session_;
  devtools_.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
  if (!QTest::qWaitFor([&] { return replies_.contains(id); }, 15000)) {
    error_ = method + ": no answer from chromium";
    return std::nullopt;
  }
  const QJsonObject reply = replies_.take(id);
  if (reply.contains("error")) {
    error_ = method + ": " + reply.value("error").toObject().value("message").toString();
    return std::nullopt;
  }
  return reply.value("result").toObject();
}

std::optional<QJsonValue> HeadlessChromium::evaluate(const QString& expression) {
  const auto result = call("Runtime.evaluate",
                           {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, true);
  if (!result) return std::nullopt;
  if (result->contains("exceptionDetails")) {
    const QJsonObject details = result->value("exceptionDetails").toObject();
    const QString thrown = details.value("exception").toObject().value("description").toString();
    error_ = expression + ": " + (thrown.isEmpty() ? details.value("text").toString() : thrown);
    return std::nullopt;
  }
  return result->value("result").toObject().value("value");
}

}  // namespace lunor::test
