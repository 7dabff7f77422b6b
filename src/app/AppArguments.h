#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <variant>

namespace clipvane {

// The command line of the application: `clipvane [--profile DIR] [--api URL] [LINK...]`.
struct AppArguments
{
    QString profile; // absolute; empty: CLIPVANE_PROFILE or the user's own folders
    QUrl apiBase;    // empty: the configured service
    QStringList links;
    bool help = false;
    bool version = false;

    // The arguments, or a message saying what is wrong with them.
    static std::variant<AppArguments, QString> parse(const QStringList &arguments);
    static QString usage();
};

} // namespace clipvane
