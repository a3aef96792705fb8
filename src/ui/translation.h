// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The screens' words in the person's language. The sources' texts are
// French; every other language is a translation built into the program.

#include <QStringList>

class QCoreApplication;
class QTranslator;

namespace lunor {

// Installs on `app` the translation of the first of `languages` (in the
// person's order of preference, as QLocale::uiLanguages() gives them:
// "en-US", "fr", "C") that has one, and returns it (owned by `app`; deleting
// it takes it off). Null when French comes first, or no language has a
// translation: the screens keep their own texts.
QTranslator* installTranslation(QCoreApplication& app, const QStringList& languages);

}  // namespace lunor
