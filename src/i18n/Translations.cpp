#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace clipvane::Translations {

namespace {

// Where qt_add_translations and the pseudo-translation put the catalogues in the resources.
constexpr auto kCatalogues = ":/i18n";

void installFrom(QCoreApplication &application, const QString &name, const QString &directory)
{
    auto *translator = new QTranslator(&application);
    if (translator->load(QLocale::system(), name, QStringLiteral("_"), directory) && !translator->isEmpty())
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace

void install(QCoreApplication &application)
{
    installFrom(application, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    const QString catalogues = QString::fromLatin1(kCatalogues);
    if (qEnvironmentVariableIntValue("CLIPVANE_PSEUDO") == 1) {
        auto *pseudo = new QTranslator(&application);
        if (pseudo->load(QStringLiteral("clipvane_pseudo"), catalogues))
            QCoreApplication::installTranslator(pseudo);
        return;
    }
    installFrom(application, QStringLiteral("clipvane"), catalogues);
}

} // namespace clipvane::Translations
