// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-screenshots OUTDIR [--host ID --password P]: opens the application
// with a prepared profile and address book (in its XDG directories, which
// the caller makes private) and saves, in light and in dark, the home
// screen, the host screen, the client directory (overview and a folder),
// the settings sheet, the join-request panel and the HUD; with a host to
// join, also the session stage during a live session. Used by
// scripts/screenshots.sh.

#include <cstdio>

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <QLocale>
#include <QCursor>
#include <QPainter>
#include <QScreen>
#include <QQuickItem>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include "app/application.h"
#include "client/client_session.h"
#include "features/session_features.h"
#include "features/transfer_text.h"
#include "store/address_book_store.h"
#include "store/user_profile_store.h"
#include "ui/translation.h"

Q_IMPORT_QML_PLUGIN(Lunor_ClientPlugin)
Q_IMPORT_QML_PLUGIN(Lunor_UiPlugin)

namespace {

using lunor::Application;

QImage portrait(QColor background, QColor face) {
  QImage image(256, 256, QImage::Format_RGB32);
  image.fill(background);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(face);
  painter.drawEllipse(QPointF(128, 100), 52, 52);
  painter.drawEllipse(QPointF(128, 270), 100, 90);
  return image;
}

// A book and a profile that look lived in.
void prepare(Application& app) {
  lunor::UserProfileStore& profile = app.environment().profileStore();
  profile.setFirstName(QStringLiteral("Camille"));
  profile.setLastName(QStringLiteral("Durand"));
  profile.chooseAvatar(portrait(QColor("#7fb3d5"), QColor("#f5cba7")));

  lunor::AddressBookStore& book = app.environment().addressBookStore();
  if (!book.connections().empty()) return;
  const QStringList ids{"482913675", "730516284", "915204736", "264870193", "803125947", "41927"};
  for (const QString& id : ids) book.recordSuccess(id, QString());
  book.rename("482913675", QStringLiteral("Bureau — Lyon"));
  book.rename("730516284", QStringLiteral("Maman"));
  book.rename("264870193", QStringLiteral("Serveur de build"));
  const QUuid family = book.addFolder(QStringLiteral("Famille"));
  const QUuid work = book.addFolder(QStringLiteral("Travail"));
  book.addFolder(QStringLiteral("Clients"));
  book.move("730516284", family);
  book.move("482913675", work);
  book.move("264870193", work);
  book.move("803125947", work);
}

bool save(QQuickWindow* window, const QDir& out, const QString& name) {
  if (!window) {
    std::fprintf(stderr, "lunor-screenshots: no window for %s\n", qPrintable(name));
    return false;
  }
  QTest::qWait(600);  // animations settle, pictures load
  const QImage image = window->grabWindow();
  const QString path = out.filePath(name + QStringLiteral(".png"));
  if (image.isNull() || !image.save(path)) {
    std::fprintf(stderr, "lunor-screenshots: cannot save %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

QQuickItem* screenItem(Application& app) {
  return app.window()->property("screen").value<QQuickItem*>();
}

}  // namespace

// Transfers as a session would list them: one received, one on its way.
QVariantList sampleTransfers() {
  using State = lunor::TransferProgress::State;
  lunor::TransferProgress received{State::Done, QStringLiteral("journal-erreurs.log"), 184'000, 184'000, 0, 0, {}};
  lunor::TransferProgress sending{State::Running, QStringLiteral("installateur-outil.iso"), 1'200'000'000, 412'000'000,
                                  24'600'000, 0, {}};
  return lunor::transferRows({{QStringLiteral("file:1"), false, received}, {QStringLiteral("file:2"), true, sending}});
}

int main(int argc, char** argv) {
  QGuiApplication qapp(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("LunorRemote"));
  QCoreApplication::setApplicationName(QStringLiteral("LunorRemote"));
  lunor::installTranslation(qapp, QLocale::system().uiLanguages());  // the screens in the person's language
  QCommandLineParser parser;
  parser.addPositionalArgument("outdir", "Where the screenshots go.");
  parser.addOption({"host", "A host's session ID to join for the stage.", "id"});
  parser.addOption({"password", "The host's unattended password.", "password"});
  parser.process(qapp);
  if (parser.positionalArguments().size() != 1) parser.showHelp(2);
  QDir out(parser.positionalArguments().first());
  out.mkpath(QStringLiteral("."));

  Application app;
  prepare(app);
  if (!app.start()) {
    std::fprintf(stderr, "lunor-screenshots: %s\n", qPrintable(app.error()));
    return 1;
  }
  QQuickWindow* window = app.window();
  window->resize(1100, 760);
  QCursor::setPos(window->screen(), QPoint(1300, 880));  // nothing under the pointer
  int failures = 0;
  auto shot = [&](QQuickWindow* w, const QString& name) { failures += save(w, out, name) ? 0 : 1; };

  for (const bool dark : {false, true}) {
    const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");
    app.setDark(dark);
    window->setProperty("mode", QString());
    shot(window, "home-" + theme);

    window->setProperty("mode", QStringLiteral("host"));
    std::ignore = QTest::qWaitFor([&] { return screenItem(app) != nullptr; }, 5000);
    shot(window, "host-" + theme);

    window->setProperty("mode", QStringLiteral("client"));
    shot(window, "directory-" + theme);
    const QVariantList folders = app.directory().folders();
    for (const QVariant& folder : folders) {
      if (folder.toMap().value("name").toString() == QStringLiteral("Travail")) {
        screenItem(app)->setProperty("activeFolderId", folder.toMap().value("id"));
      }
    }
    shot(window, "directory-folder-" + theme);
    screenItem(app)->setProperty("activeFolderId", QString());

    window->setProperty("mode", QString());
    window->setProperty("showSettings", true);
    shot(window, "settings-" + theme);
    window->setProperty("showSettings", false);

    lunor::JoinRequestPrompt request{portrait(QColor("#f5b7b1"), QColor("#fdebd0")), QStringLiteral("Alice Martin"),
                              QStringLiteral("Alice Martin"), [] {}, [] {}};
    request.code = QStringLiteral("526 630");
    app.panels().showJoinRequest(request);
    shot(app.panels().joinRequestWindow(), "join-request-" + theme);
    app.panels().dismissJoinRequest();

    app.panels().showTransfers({});
    app.panels().showFloatingHud({portrait(QColor("#f5b7b1"), QColor("#fdebd0")), QStringLiteral("Alice Martin"),
                                  QDateTime::currentDateTime().addSecs(-754), [] {}});
    shot(app.panels().hudWindow(), "hud-" + theme);
    app.panels().hideFloatingHud();

    // The HUD with files going both ways, and a file waiting for its person.
    app.panels().showTransfers(sampleTransfers());
    app.panels().showFloatingHud({portrait(QColor("#f5b7b1"), QColor("#fdebd0")), QStringLiteral("Alice Martin"),
                                  QDateTime::currentDateTime().addSecs(-754), [] {}});
    shot(app.panels().hudWindow(), "hud-files-" + theme);
    app.panels().hideFloatingHud();
    app.panels().showTransfers({});
    app.panels().showFileOffer({QStringLiteral("Alice Martin"), QStringLiteral("rapport-annuel-2026.pdf"),
                                lunor::byteSizeText(2'400'000), [] {}, [] {}});
    shot(app.panels().fileOfferWindow(), "file-offer-" + theme);
    app.panels().dismissFileOffer();

    app.panels().showEndSession(lunor::EndCause::PeerEnded, QStringLiteral("Alice Martin s’est déconnecté de votre ordinateur"),
                                QStringLiteral("12m 34s"), 10);
    shot(app.panels().endSessionWindow(), "end-panel-" + theme);
    app.panels().closeEndSession();
  }

  if (parser.isSet("host")) {
    lunor::ClientSession& client = app.clientSession();
    const QString password = parser.value("password");
    QObject::connect(&client, &lunor::ClientSession::askUnattendedPasswordChanged, &client, [&client, password] {
      if (client.askUnattendedPassword()) client.submitUnattendedPassword(password);
    });
    window->setProperty("mode", QStringLiteral("client"));
    QMetaObject::invokeMethod(screenItem(app), "connectTo", Q_ARG(QVariant, parser.value("host")));
    if (!QTest::qWaitFor([&] { return client.hasRemoteVideoTrack() && screenItem(app)->property("isConnected").toBool(); },
                         30000)) {
      std::fprintf(stderr, "lunor-screenshots: the host's picture did not come\n");
      ++failures;
    } else {
      QTest::qWait(2500);  // a few frames, at the profile's size
      for (const bool dark : {false, true}) {
        app.setDark(dark);
        shot(window, dark ? "stage-dark" : "stage-light");
      }
      // A file on its way to the host (which takes it: unattended).
      QTemporaryDir files;
      const QString path = files.filePath(QStringLiteral("installateur-outil.iso"));
      QFile file(path);
      if (file.open(QIODevice::WriteOnly)) {
        QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 400; ++i) file.write(block);
        file.close();
      }
      lunor::SessionFeatures& features = lunor::SessionFeatures::of(client.features());
      std::ignore = QTest::qWaitFor([&] { return features.filesShared(); }, 5000);
      features.sendFiles({QUrl::fromLocalFile(path)});
      std::ignore = QTest::qWaitFor(
          [&] {
            const QVariantList rows = features.transfers();
            return !rows.isEmpty() && rows.front().toMap().value("fraction").toDouble() > 0.1;
          },
          20000);
      shot(window, "stage-files-light");
    }
  }
  app.quitting();
  QTest::qWait(300);
  return failures ? 1 : 0;
}
