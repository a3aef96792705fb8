// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Debian's chromium, headless, driven through the DevTools protocol: opens
// pages (one at a time), evaluates expressions in them and hands back their
// values. For the tests of the web client and the browser benchmark.

#include <optional>

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

namespace lunor::test {

class HeadlessChromium {
 public:
  HeadlessChromium();
  ~HeadlessChromium();

  // Whether a chromium is installed (scripts/install-deps.sh puts one).
  static bool installed();

  // Starts the browser if it is not running and opens `page` in a tab of
  // its own (the last one is closed), returning once the tab shows that
  // page's document, loaded (before, it shows about:blank; slowly, on a
  // loaded machine); false with error() set when it cannot.
  bool open(const QUrl& page);
  void closePage();
  // The value of a page expression (promises awaited); nothing, with
  // error() set, when it throws or the browser does not answer.
  std::optional<QJsonValue> evaluate(const QString& expression);
  // One DevTools command, on the page when `onPage`; its result.
  std::optional<QJsonObject> call(const QString& method, const QJsonObject& params = {}, bool onPage = false);

  // `text` as a JavaScript string literal, to put in an expression.
  static QString literal(const QString& text);

  qint64 processId() const { return browser_.processId(); }
  QString error() const { return error_; }

 private:
  bool launch();

  QTemporaryDir profileDir_;
  QProcess browser_;
  QWebSocket devtools_;
  int nextId_ = 1;
  QHash<int, QJsonObject> replies_;
  QString target_, session_;
  QString error_;
};

}  // namespace lunor::test
