#pragma once

#include <QSettings>
#include <QString>
#include <memory>

namespace clipvane {

// Where every file of the application family lives. A profile folder (the environment
// variable CLIPVANE_PROFILE, or --profile of clipvane-cli) puts all of them under one
// directory, so tests, scripts and several "devices" on one machine never share files.
namespace AppPaths {

inline constexpr char kApplicationId[] = "app.clipvane.Clipvane";

// Sets the organisation and application names the standard locations are built from.
void initialiseApplicationNames();

// An explicit profile folder wins over CLIPVANE_PROFILE. Empty: the user's standard folders.
void setProfile(const QString &directory);
QString profile();

QString dataDir();
QString configDir();
QString cacheDir();

QString storePath();         // the local library
QString groupSettingsPath(); // settings shared by every process of the application family
QString secretsFilePath();   // credentials where no Secret Service is available

// Makes what this process creates from now on readable by the user only, and closes the
// folders and files of the library that exist already: a library is as private as a browser
// profile, whatever the umask of the session.
void keepPrivate();

// The standard settings ("apiBase", "testToken", "onboarded", ...).
std::unique_ptr<QSettings> standardSettings();

} // namespace AppPaths

} // namespace clipvane
