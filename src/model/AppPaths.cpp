#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/stat.h>

namespace clipvane::AppPaths {

namespace {

QString &explicitProfile()
{
    static QString directory;
    return directory;
}

QString ensured(const QString &path)
{
    QDir().mkpath(path);
    return path;
}

QString standardOrProfile(QStandardPaths::StandardLocation location, const QString &sub)
{
    const QString root = profile();
    if (!root.isEmpty())
        return ensured(QDir(root).filePath(sub));
    return ensured(QStandardPaths::writableLocation(location));
}

} // namespace

void initialiseApplicationNames()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Clipvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Clipvane"));
}

void setProfile(const QString &directory)
{
    explicitProfile() = directory.isEmpty() ? QString() : QDir(directory).absolutePath();
}

QString profile()
{
    if (!explicitProfile().isEmpty())
        return explicitProfile();
    const QString fromEnvironment = qEnvironmentVariable("CLIPVANE_PROFILE");
    return fromEnvironment.isEmpty() ? QString() : QDir(fromEnvironment).absolutePath();
}

QString dataDir()
{
    return standardOrProfile(QStandardPaths::AppDataLocation, QStringLiteral("data"));
}

QString configDir()
{
    return standardOrProfile(QStandardPaths::AppConfigLocation, QStringLiteral("config"));
}

QString cacheDir()
{
    return standardOrProfile(QStandardPaths::CacheLocation, QStringLiteral("cache"));
}

QString storePath()
{
    return QDir(dataDir()).filePath(QStringLiteral("library.sqlite"));
}

QString groupSettingsPath()
{
    return QDir(configDir()).filePath(QStringLiteral("group.ini"));
}

QString secretsFilePath()
{
    return QDir(configDir()).filePath(QStringLiteral("secrets.json"));
}

void keepPrivate()
{
    ::umask(S_IRWXG | S_IRWXO);
    const auto restrict = [](const QString &path, QFileDevice::Permissions permissions) {
        if (QFileInfo::exists(path))
            QFile::setPermissions(path, permissions);
    };
    constexpr auto folder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    constexpr auto file = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (const QString &directory : {dataDir(), configDir(), cacheDir()})
        restrict(directory, folder);
    for (const QString &suffix : {u""_qs, u"-wal"_qs, u"-shm"_qs})
        restrict(storePath() + suffix, file);
    restrict(groupSettingsPath(), file);
    restrict(QDir(configDir()).filePath(QStringLiteral("Clipvane.ini")), file);
}

std::unique_ptr<QSettings> standardSettings()
{
    return std::make_unique<QSettings>(QDir(configDir()).filePath(QStringLiteral("Clipvane.ini")),
                                       QSettings::IniFormat);
}

} // namespace clipvane::AppPaths
