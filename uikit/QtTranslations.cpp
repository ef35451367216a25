#include "uikit/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
// A property of the application, so every copy of this code in the process sees it.
constexpr char kLoadedMark[] = "tarvoQtChineseLoaded";
constexpr char kCatalogue[] = "qt_zh_CN";
}  // namespace

bool LoadQtChineseTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  if (app->property(kLoadedMark).toBool()) return true;
  // Owned by the application: the translations last as long as it does.
  auto* translator = new QTranslator(app);
  if (!translator->load(QLatin1String(kCatalogue), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    qWarning("Qt's Chinese translations (%s) are not installed; Qt's dialogs stay in English", kCatalogue);
    return false;
  }
  QCoreApplication::installTranslator(translator);
  app->setProperty(kLoadedMark, true);
  return true;
}
