#include "ui/FamilyApplication.h"

#include "ui/Icons.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace quantiro::ui {

void PrepareFamilyApplication() {
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    QLocale::setDefault(polish);
    // The application owns the translator; without the translations (a build
    // without the package) the buttons stay in English and nothing else changes.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(polish, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    QApplication::setWindowIcon(MeterIcon());
}

} // namespace quantiro::ui
