#pragma once

#include <QLatin1String>
#include <QString>

namespace clipvane {

// Every settings key of the application family, with its type and the value an absent (or
// unreadable) entry stands for. Code reads and writes settings through these names only.
namespace SettingsKeys {

// The standard settings: this application's own preferences and developer overrides.
inline constexpr QLatin1String onboarded("onboarded");                  // bool; absent = false
inline constexpr QLatin1String autoplayOnSelect("macAutoplayOnSelect"); // bool; absent = false
inline constexpr QLatin1String apiBase("apiBase");                      // text; absent = built-in service
inline constexpr QLatin1String testToken("testToken");                  // text; non-empty = token to provision
// The player: whether the next video of the list plays when one ends.
inline constexpr QLatin1String playNextAutomatically("playNextAutomatically"); // bool; absent = true

// The library list: whether videos marked watched are left out of it.
inline constexpr QLatin1String hideWatched("hideWatched"); // bool; absent = false
// The main window as the person left it, restored at the next launch of the same profile.
inline constexpr QLatin1String windowGeometry("window/geometry");   // bytes of QMainWindow::saveGeometry
inline constexpr QLatin1String windowSplitter("window/splitter");   // bytes of QSplitter::saveState
inline constexpr QLatin1String windowSelection("window/selection"); // text: the selected video's youtubeID

// The group settings, shared by every process of the application family (GroupSettings).
inline constexpr QLatin1String syncCursor("syncCursor");         // text of a decimal signed 64-bit number
inline constexpr QLatin1String familyRev("familyRev");           // text
inline constexpr QLatin1String widgetVisible("widgetVisible");   // bool
inline constexpr QLatin1String shareInbox("shareInbox");         // list of texts
inline constexpr QLatin1String familyRefresh("familyRefresh");   // bool; absent = false
inline constexpr QLatin1String libraryAccount("libraryAccount"); // text: the e-mail whose records the store holds
inline constexpr QLatin1String cursorStore("syncCursorStore");   // text: generation of the store the cursor describes

} // namespace SettingsKeys

namespace SettingsDefaults {

inline constexpr bool onboarded = false;
inline constexpr bool autoplayOnSelect = false;
inline constexpr bool playNextAutomatically = true;
inline constexpr bool hideWatched = false;
inline constexpr qint64 syncCursor = 0; // also for text that is not a decimal number
inline constexpr char16_t familyRev[] = u"0";
inline constexpr bool widgetVisible = true;  // also for a value that is not a Boolean
inline constexpr bool familyRefresh = false; // also for a value that is not a Boolean

} // namespace SettingsDefaults

} // namespace clipvane
