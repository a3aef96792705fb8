// The web client's files as a browser takes them from lunor-signal: the key
// table module it imports is the application's own, and the page's policy
// keeps any script the server did not serve from running.

#include <QJsonObject>
#include <QtTest>

#include "headless_chromium.h"
#include "protocol/key_codes.h"
#include "signal_server_process.h"

using lunor::test::HeadlessChromium;
using lunor::test::SignalServerProcess;

namespace {

QString quoted(const QString& text) { return QStringLiteral("'%1'").arg(text); }

}  // namespace

class WebBrowserTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() {
    if (!HeadlessChromium::installed()) QSKIP("no chromium here: scripts/install-deps.sh installs it");
  }

  void theBrowsersKeyTableIsTheApplications() {
    SignalServerProcess server({"--web-root", QStringLiteral(LUNOR_WEB_DIR)});
    QVERIFY(server.isListening());
    HeadlessChromium browser;
    QUrl page = server.url(QStringLiteral("http"));
    page.setPath(QStringLiteral("/keys.js"));
    QVERIFY2(browser.open(page), qPrintable(browser.error()));
    // The page's document comes when the browser gets to it (slowly, on a
    // loaded machine); until then the tab shows about:blank.
    const QString loadedExpression =
        QStringLiteral("location.href === %1 && document.readyState === 'complete'").arg(quoted(page.toString()));
    const bool loaded =
        QTest::qWaitFor([&] { return browser.evaluate(loadedExpression).value_or(QJsonValue()).toBool(); }, 60000);
    QVERIFY2(loaded, qPrintable(browser.error()));
    const auto table = browser.evaluate("import('/keys.js').then(m => m.macKeyCodes)");
    QVERIFY2(table && table->isObject(), qPrintable(browser.error()));
    const QJsonObject codes = table->toObject();
    const auto keys = lunor::macKeyTable();
    QCOMPARE(codes.size(), qsizetype(keys.size()));
    for (const auto& [mac, key] : keys) QCOMPARE(codes.value(QLatin1String(key.domCode)).toInt(-1), int(mac));

    // A script the page makes up itself does not run: inline scripts are
    // not the server's.
    const auto ran = browser.evaluate(
        "new Promise(done => { window.ran = false; const s = document.createElement('script');"
        " s.textContent = 'window.ran = true'; document.documentElement.appendChild(s);"
        " setTimeout(() => done(window.ran), 200); })");
    QVERIFY2(ran, qPrintable(browser.error()));
    QCOMPARE(ran->toBool(), false);
  }
};

QTEST_GUILESS_MAIN(WebBrowserTest)
#include "web_browser_test.moc"
