// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qml_session_panels.h"

#include <algorithm>

#include <QCursor>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <QTimer>

#include "client/session_words.h"
#include "system/console_log.h"
#include "ui/image_providers.h"
#include "ui/ui_log.h"
#include "ui/ui_text.h"

namespace lunor {

namespace {

constexpr int kHudMargin = 28;

void centre(QWindow& window, QScreen* screen) {
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  window.setPosition(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

// A shown panel's new contents.
void setProperties(QObject& window, const QVariantMap& properties) {
  for (auto it = properties.begin(); it != properties.end(); ++it) window.setProperty(qPrintable(it.key()), it.value());
}

void present(QWindow& window) {
  window.show();
  window.raise();
  window.requestActivate();
}

}  // namespace

QmlSessionPanels::QmlSessionPanels(QQmlEngine& engine, AvatarImages& avatars, QObject* parent)
    : QObject(parent), engine_(engine), avatars_(avatars) {}

QmlSessionPanels::~QmlSessionPanels() {
  delete join_.data();
  delete hud_.data();
  delete end_.data();
  delete offer_.data();
}

QQuickWindow* QmlSessionPanels::create(const char* file, const QVariantMap& properties) {
  QQmlComponent component(&engine_, QUrl(QStringLiteral("qrc:/qt/qml/Lunor/Ui/") + QLatin1String(file)));
  QObject* object = component.createWithInitialProperties(properties);
  auto* window = qobject_cast<QQuickWindow*>(object);
  if (!window) {
    consoleLine(lcUi(), tr("⚠️ Panneau %1 indisponible : %2").arg(QLatin1String(file), component.errorString()));
    delete object;
    return nullptr;
  }
  QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
  return window;
}

void QmlSessionPanels::showJoinRequest(const JoinRequestPrompt& prompt) {
  retainAccept_ = prompt.accept;
  retainReject_ = prompt.reject;
  joinSetClipboard_ = prompt.setClipboard;
  const QVariantMap properties{
      {QStringLiteral("name"), prompt.name.isEmpty() ? tr("Connexion entrante") : prompt.name},
      {QStringLiteral("avatar"), avatars_.publish(QStringLiteral("join"), prompt.avatar)},
      {QStringLiteral("clipboard"), prompt.clipboard},
      {QStringLiteral("code"), prompt.code}};
  if (join_) {
    setProperties(*join_, properties);  // a second request replaces the first in the same panel
  } else {
    join_ = create("JoinRequestPanel.qml", properties);
    if (!join_) return;
    connect(join_, SIGNAL(accepted()), this, SLOT(acceptJoin()));
    connect(join_, SIGNAL(rejected()), this, SLOT(rejectJoin()));
    connect(join_, SIGNAL(clipboardToggled(bool)), this, SLOT(clipboardFromJoin(bool)));
  }
  centre(*join_, join_->screen());
  present(*join_);
  join_->alert(0);
}

void QmlSessionPanels::acceptJoin() { decide(true); }

void QmlSessionPanels::rejectJoin() { decide(false); }

void QmlSessionPanels::decide(bool accept) {
  const auto action = accept ? retainAccept_ : retainReject_;
  if (action) action();
  dismissJoinRequest();
}

void QmlSessionPanels::dismissJoinRequest() {
  // On the next turn, so that a decision runs to its end first.
  QTimer::singleShot(0, this, [this] {
    if (join_) {
      join_->close();
      join_->deleteLater();
      join_ = nullptr;
    }
    retainAccept_ = {};
    retainReject_ = {};
    joinSetClipboard_ = {};
  });
}

void QmlSessionPanels::showFloatingHud(const HudInfo& info) {
  hudQuit_ = info.quit;
  hudSetClipboard_ = info.setClipboard;
  hudSendFiles_ = info.sendFiles;
  hudCancelFile_ = info.cancelFile;
  const QVariantMap properties{{QStringLiteral("name"), info.name},
                               {QStringLiteral("transfers"), transfers_},
                               {QStringLiteral("acceptsFiles"), bool(info.sendFiles)},
                               {QStringLiteral("avatar"), avatars_.publish(QStringLiteral("hud"), info.avatar)},
                               {QStringLiteral("startedAt"), info.startedAt},
                               {QStringLiteral("clipboard"), info.clipboard}};
  if (hud_) {
    setProperties(*hud_, properties);
  } else {
    hud_ = create("FloatingHud.qml", properties);
    if (!hud_) return;
    connect(hud_, SIGNAL(quitRequested()), this, SLOT(quitFromHud()));
    connect(hud_, SIGNAL(clipboardToggled(bool)), this, SLOT(clipboardFromHud(bool)));
    connect(hud_, SIGNAL(filesDropped(QVariant)), this, SLOT(filesFromHud(QVariant)));
    connect(hud_, SIGNAL(cancelRequested(QString)), this, SLOT(cancelFromHud(QString)));
  }
  // Bottom right of the screen the pointer is on.
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    hud_->setPosition(area.right() + 1 - hud_->width() - kHudMargin, area.bottom() + 1 - hud_->height() - kHudMargin);
  }
  hud_->show();
  hud_->raise();
}

void QmlSessionPanels::showScreenHud(const QImage& avatar, const QString& name, const QDateTime& startedAt) {
  showFloatingHud({avatar, name, startedAt, [this] { Q_EMIT screenHudQuit(); }});
}

void QmlSessionPanels::clipboardFromHud(bool on) {
  if (hudSetClipboard_) hudSetClipboard_(on);
}

void QmlSessionPanels::clipboardFromJoin(bool on) {
  if (joinSetClipboard_) joinSetClipboard_(on);
}

void QmlSessionPanels::filesFromHud(const QVariant& dropped) {
  // A drop's list of URLs, however QML hands it over.
  QList<QUrl> urls = dropped.value<QList<QUrl>>();
  if (urls.isEmpty()) {
    for (const QVariant& v : dropped.toList()) urls << v.toUrl();
  }
  QStringList paths;
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  if (hudSendFiles_ && !paths.isEmpty()) hudSendFiles_(paths);
}

void QmlSessionPanels::cancelFromHud(const QString& transfer) {
  if (hudCancelFile_) hudCancelFile_(transfer);
}

void QmlSessionPanels::showTransfers(const QVariantList& rows) {
  transfers_ = rows;
  if (hud_) hud_->setProperty("transfers", rows);
}

void QmlSessionPanels::showFileOffer(const FileOfferPrompt& prompt) {
  offerPrompt_ = prompt;
  const QVariantMap properties{{QStringLiteral("from"), prompt.from},
                               {QStringLiteral("name"), prompt.name},
                               {QStringLiteral("size"), prompt.size}};
  if (offer_) {
    setProperties(*offer_, properties);
  } else {
    offer_ = create("FileOfferPanel.qml", properties);
    if (!offer_) {
      if (prompt.decline) prompt.decline();  // nobody can be asked
      return;
    }
    connect(offer_, SIGNAL(accepted()), this, SLOT(acceptOffer()));
    connect(offer_, SIGNAL(rejected()), this, SLOT(declineOffer()));
  }
  centre(*offer_, offer_->screen());
  present(*offer_);
  offer_->alert(0);
}

void QmlSessionPanels::acceptOffer() {
  const auto accept = offerPrompt_.accept;
  if (accept) accept();
}

void QmlSessionPanels::declineOffer() {
  const auto decline = offerPrompt_.decline;
  if (decline) decline();
}

void QmlSessionPanels::dismissFileOffer() {
  offerPrompt_ = {};
  // On the next turn: the answer that dismisses it runs from its button.
  QTimer::singleShot(0, this, [this] {
    if (offerPrompt_.accept || !offer_) return;  // asked again meanwhile
    offer_->close();
    offer_->deleteLater();
    offer_ = nullptr;
  });
}

void QmlSessionPanels::quitFromHud() {
  const auto quit = hudQuit_;
  if (quit) quit();
  hideFloatingHud();
}

void QmlSessionPanels::hideFloatingHud() {
  if (hud_) hud_->hide();
}

void QmlSessionPanels::showEndSession(EndCause cause, const QString& reason, const QString& durationText,
                                      int countdownSeconds) {
  closeEndSession();
  const QString words = endReasonText(cause, reason, Role::Host);
  end_ = create("EndSessionPanel.qml", {{QStringLiteral("message"), endPanelMessage(words, durationText)},
                                        {QStringLiteral("seconds"), std::max(countdownSeconds, 1)}});
  if (!end_) return;
  connect(end_, SIGNAL(closeRequested()), this, SLOT(closeEndSession()));
  centre(*end_, QGuiApplication::primaryScreen());
  present(*end_);
}

void QmlSessionPanels::closeEndSession() {
  if (!end_) return;
  end_->close();
  end_->deleteLater();
  end_ = nullptr;
}

}  // namespace lunor
