// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/translation.h"

#include <memory>

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace lunor {

QTranslator* installTranslation(QCoreApplication& app, const QStringList& languages) {
  for (const QString& name : languages) {
    const QLocale::Language language = QLocale(name).language();
    if (language == QLocale::French) return nullptr;
    // One translation per language, whatever the country: lunor_en.qm.
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/i18n/lunor_%1.qm").arg(QLocale::languageToCode(language)))) continue;
    translator->setParent(&app);
    app.installTranslator(translator.get());
    return translator.release();
  }
  return nullptr;
}

}  // namespace lunor
