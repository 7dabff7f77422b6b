#pragma once

class QCoreApplication;

namespace clipvane::Translations {

// Installs, for the user's languages (QLocale::system().uiLanguages(): LANGUAGE, LC_ALL, LANG),
// Clipvane's translation and Qt's own (so stock dialogs and context menus follow the locale).
// With CLIPVANE_PSEUDO=1 Clipvane's texts come from the pseudo-translation instead: every text
// wrapped and lengthened, so a clipped or untranslated text shows on a screenshot.
// Call once the application object exists and before any window is built.
void install(QCoreApplication &application);

} // namespace clipvane::Translations
