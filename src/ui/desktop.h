// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the screens ask of the desktop: the clipboard, bringing a window to
// the front, full screen, and saving a session's picture.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QWindow>
#include <QtQml/qqml.h>

#include "client/client_session.h"

namespace lunor {

class Desktop final : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(Desktop)
  QML_SINGLETON
  Q_PROPERTY(bool prefersDark READ prefersDark CONSTANT)
  // The theme the screens draw with (Theme.dark follows it).
  Q_PROPERTY(bool darkTheme READ darkTheme WRITE setDarkTheme NOTIFY darkThemeChanged)

 public:
  // The one instance, shared by every engine of the process.
  static Desktop& shared();
  static Desktop* create(QQmlEngine*, QJSEngine*);

  bool darkTheme() const { return darkTheme_; }
  void setDarkTheme(bool dark);

  // LUNOR_THEME=dark or light, else whether the desktop's palette is dark.
  static bool prefersDark();

  // Replaces the clipboard's content with plain text.
  Q_INVOKABLE void copyText(const QString& text) const;
  Q_INVOKABLE QString clipboardText() const;
  // Shows the window (or, when null, the focused one or the first one),
  // raises it, asks for the keyboard and for the user's attention.
  Q_INVOKABLE void bringToFront(QWindow* window) const;
  Q_INVOKABLE void toggleFullScreen(QWindow* window) const;
  // Saves the session's next picture (the received one for a client, the
  // shared screen for a host) as a PNG in the user's Pictures folder, and
  // says where in the session's log. Asynchronous.
  Q_INVOKABLE void saveScreenshot(lunor::ClientSession* session) const;

  // The file chooser's filter for profile pictures: PNG, JPEG, and HEIC
  // where an image plugin reads it.
  Q_INVOKABLE QStringList pictureNameFilters() const;

  // Where screenshots go: the Pictures folder, or the home folder without one.
  static QString picturesFolder();

 Q_SIGNALS:
  void darkThemeChanged();

 private:
  Desktop() : darkTheme_(prefersDark()) {}
  bool darkTheme_;
};

}  // namespace lunor
