#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

namespace clipvane {

// One clipvane-cli invocation: the command, its operands and options, checked against what
// the command accepts. Global options (--profile, --api, --help) may appear anywhere.
struct CliArguments
{
    QString command;      // "share", "signin", "signout", "status", "add", "import", "exclude", "include",
                          // "edit", "mark", "delete", "sync", "list", "family"; empty with help
    QStringList operands; // links for share and add, files for import, one ID for exclude, include, edit, mark and
                          // delete; for family none, or an action and an e-mail address

    QString profile; // --profile; empty: CLIPVANE_PROFILE or the standard folders
    QString api;     // --api; empty: the "apiBase" setting, CLIPVANE_API_BASE or the built-in service
    bool help = false;
    bool version = false;

    // signin: the token itself ("-": read it from standard input), or the file that holds it
    std::optional<QString> token;
    std::optional<QString> tokenFile;
    std::optional<QString> email;
    // edit: only the given fields change
    std::optional<QString> title;
    std::optional<QString> date;
    std::optional<QString> length;
    // mark: exactly one of a watched mark (true: --watched, false: --unwatched) and a position
    std::optional<bool> watched;
    std::optional<int> position; // whole seconds, 0…kMaxVideoPosition
    // sync: keep the service's live change stream and sync on each change until interrupted
    bool follow = false;
    // list, family and import
    bool json = false;
    bool excluded = false;
    bool all = false;
    std::optional<QString> search;
    std::optional<QString> year;
    std::optional<QString> sort; // "newest", "oldest", "title" or "longest"

    // arguments: without the program name. A usage error gives its message.
    static std::variant<CliArguments, QString> parse(const QStringList &arguments);

    static QString usage();
};

} // namespace clipvane
