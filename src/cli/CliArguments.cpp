#include "CliArguments.h"

#include "VideoLimits.h"

#include <QHash>
#include <QSet>

namespace clipvane {

namespace {

struct CommandShape
{
    int minOperands = 0;
    int maxOperands = 0; // -1: any number
    QSet<QString> options{};
};

const QHash<QString, CommandShape> &commandShapes()
{
    static const QHash<QString, CommandShape> shapes{
        {u"share"_qs, {1, -1, {}}},
        {u"signin"_qs, {0, 0, {u"token"_qs, u"token-file"_qs, u"email"_qs}}},
        {u"signout"_qs, {0, 0, {}}},
        {u"status"_qs, {0, 0, {}}},
        {u"add"_qs, {1, -1, {}}},
        {u"import"_qs, {1, -1, {u"json"_qs}}},
        {u"exclude"_qs, {1, 1, {}}},
        {u"include"_qs, {1, 1, {}}},
        {u"edit"_qs, {1, 1, {u"title"_qs, u"date"_qs, u"length"_qs}}},
        {u"mark"_qs, {1, 1, {u"watched"_qs, u"unwatched"_qs, u"position"_qs}}},
        {u"delete"_qs, {1, 1, {}}},
        {u"sync"_qs, {0, 0, {u"follow"_qs}}},
        {u"list"_qs, {0, 0, {u"json"_qs, u"search"_qs, u"year"_qs, u"sort"_qs, u"excluded"_qs, u"all"_qs}}},
        {u"family"_qs, {0, 2, {u"json"_qs}}},
    };
    return shapes;
}

const QSet<QString> kValueOptions{u"profile"_qs, u"api"_qs,   u"token"_qs, u"token-file"_qs,
                                  u"email"_qs,   u"title"_qs, u"date"_qs,  u"length"_qs,
                                  u"search"_qs,  u"year"_qs,  u"sort"_qs,  u"position"_qs};
const QStringList kFamilyActions{u"add"_qs, u"remove"_qs, u"decline"_qs, u"unblock"_qs};
const QSet<QString> kFlagOptions{u"json"_qs,      u"excluded"_qs, u"all"_qs,     u"watched"_qs,
                                 u"unwatched"_qs, u"help"_qs,     u"version"_qs, u"follow"_qs};
const QSet<QString> kGlobalOptions{u"profile"_qs, u"api"_qs, u"help"_qs, u"version"_qs};

// Stores a value option; false when it was given twice.
bool assign(CliArguments &arguments, const QString &name, const QString &value)
{
    std::optional<QString> *slot = nullptr;
    if (name == u"profile" || name == u"api") {
        QString &text = name == u"profile" ? arguments.profile : arguments.api;
        if (!text.isEmpty())
            return false;
        text = value;
        return true;
    }
    if (name == u"position") {
        if (arguments.position)
            return false;
        // Checked once the command is known: a bad number is a usage error.
        bool whole = false;
        const int seconds = value.toInt(&whole);
        arguments.position = whole ? seconds : -1;
        return true;
    }
    if (name == u"token")
        slot = &arguments.token;
    else if (name == u"token-file")
        slot = &arguments.tokenFile;
    else if (name == u"email")
        slot = &arguments.email;
    else if (name == u"title")
        slot = &arguments.title;
    else if (name == u"date")
        slot = &arguments.date;
    else if (name == u"length")
        slot = &arguments.length;
    else if (name == u"search")
        slot = &arguments.search;
    else if (name == u"year")
        slot = &arguments.year;
    else
        slot = &arguments.sort;
    if (slot->has_value())
        return false;
    *slot = value;
    return true;
}

void setFlag(CliArguments &arguments, const QString &name)
{
    if (name == u"json")
        arguments.json = true;
    else if (name == u"excluded")
        arguments.excluded = true;
    else if (name == u"all")
        arguments.all = true;
    else if (name == u"follow")
        arguments.follow = true;
    else if (name == u"watched" || name == u"unwatched")
        arguments.watched = name == u"watched"; // given with another of mark's options: refused below
    else if (name == u"version")
        arguments.version = true;
    else
        arguments.help = true;
}

} // namespace

std::variant<CliArguments, QString> CliArguments::parse(const QStringList &arguments)
{
    CliArguments parsed;
    QStringList given; // options in the order they came, for the per-command check
    bool operandsOnly = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (operandsOnly || !argument.startsWith(u'-') || argument == u"-") {
            if (parsed.command.isEmpty())
                parsed.command = argument;
            else
                parsed.operands.append(argument);
            continue;
        }
        if (argument == u"--") {
            operandsOnly = true;
            continue;
        }
        if (argument == u"-h") {
            parsed.help = true;
            continue;
        }
        if (!argument.startsWith(u"--"))
            return u"unknown option “%1”"_qs.arg(argument);

        QString name = argument.mid(2);
        std::optional<QString> value;
        if (const qsizetype equals = name.indexOf(u'='); equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (kFlagOptions.contains(name)) {
            if (value)
                return u"option --%1 takes no value"_qs.arg(name);
            setFlag(parsed, name);
        } else if (kValueOptions.contains(name)) {
            if (!value) {
                if (i + 1 >= arguments.size())
                    return u"option --%1 needs a value"_qs.arg(name);
                value = arguments.at(++i);
            }
            if (!assign(parsed, name, *value))
                return u"option --%1 given twice"_qs.arg(name);
        } else {
            return u"unknown option “--%1”"_qs.arg(name);
        }
        given.append(name);
    }

    if (parsed.help || parsed.version)
        return parsed;
    if (parsed.command.isEmpty())
        return u"no command given"_qs;
    const auto shape = commandShapes().constFind(parsed.command);
    if (shape == commandShapes().cend())
        return u"unknown command “%1”"_qs.arg(parsed.command);
    for (const QString &name : std::as_const(given)) {
        if (!kGlobalOptions.contains(name) && !shape->options.contains(name))
            return u"%1 does not take --%2"_qs.arg(parsed.command, name);
    }
    const qsizetype count = parsed.operands.size();
    if (parsed.command == u"family") {
        if (count == 1 || count > 2 || (count == 2 && !kFamilyActions.contains(parsed.operands.constFirst())))
            return u"family takes no arguments, or add, remove, decline or unblock and an e-mail address"_qs;
        if (count == 2 && parsed.json)
            return u"--json is for the family list only"_qs;
    }
    if (count < shape->minOperands && parsed.command == u"import")
        return u"import needs at least one file"_qs;
    if (count < shape->minOperands)
        return parsed.command == u"share" || parsed.command == u"add"
                   ? u"%1 needs at least one link"_qs.arg(parsed.command)
                   : u"%1 needs a video ID"_qs.arg(parsed.command);
    if (shape->maxOperands >= 0 && count > shape->maxOperands)
        return u"%1 takes %2"_qs.arg(parsed.command, shape->maxOperands == 0 ? u"no arguments"_qs : u"one video ID"_qs);

    if (parsed.command == u"signin" && parsed.token && parsed.tokenFile)
        return u"signin takes --token or --token-file, not both"_qs;
    if (parsed.command == u"signin" && (!parsed.token || parsed.token->isEmpty()) && !parsed.tokenFile)
        return u"signin needs --token-file FILE, --token - (standard input) or --token T"_qs;
    if (parsed.command == u"edit" && !parsed.title && !parsed.date && !parsed.length)
        return u"edit needs at least one of --title, --date and --length"_qs;
    if (parsed.command == u"mark" &&
        given.count(u"watched"_qs) + given.count(u"unwatched"_qs) + given.count(u"position"_qs) != 1)
        return u"mark needs one of --watched, --unwatched and --position SECONDS"_qs;
    if (parsed.position && (*parsed.position < 0 || *parsed.position > kMaxVideoPosition))
        return u"--position takes whole seconds from 0 to %1"_qs.arg(kMaxVideoPosition);
    if (parsed.sort && *parsed.sort != u"newest" && *parsed.sort != u"oldest" && *parsed.sort != u"title" &&
        *parsed.sort != u"longest")
        return u"--sort takes newest, oldest, title or longest"_qs;
    if (parsed.all && (parsed.search || parsed.year || parsed.sort || parsed.excluded))
        return u"--all lists every record as stored; it does not combine with --search, --year, --sort or --excluded"_qs;
    return parsed;
}

QString CliArguments::usage()
{
    return uR"(Usage: clipvane-cli [--profile DIR] [--api URL] COMMAND [ARGUMENTS]

Commands:
  share LINK...            queue links for the running application (no network)
  signin --token-file FILE | --token - [--email E]
                           sign in with a service token read from FILE or from
                           standard input, and run the first sync (--token T
                           also works, but shows the token to other users of
                           this computer while the command runs)
  signout                  forget the credentials (the local library stays)
  status                   sign-in, pending changes, cursor and family revision
  add LINK...              add videos by YouTube link
  import [--json] FILE...  add the videos of every YouTube link in files: playlist
                           and watch-history exports, bookmarks, notes, mail;
                           --json prints what came of it as JSON
  exclude ID | include ID  exclude a video from the library, or bring it back
  edit ID [--title T] [--date YYYY-MM-DD] [--length M:SS]
                           correct the details of a video
  mark ID --watched | --unwatched | --position SECONDS
                           mark a video watched (it then plays from the
                           start) or not, or set where playback resumes
  delete ID                delete a video
  sync [--follow]          run one sync cycle with the service (--follow: then
                           keep listening for changes made elsewhere and sync
                           on each one, a line per cycle, until interrupted)
  list [--json] [--search S] [--year Y] [--sort newest|oldest|title|longest]
       [--excluded] [--all]
                           the library as the window shows it (--excluded: only
                           excluded videos; --all: every stored record); --json
                           gives each video's "watched" and "position" too
  family [--json]          who can see my library, whose libraries are shared
                           with me, and whose shares I declined
  family add|remove EMAIL  share my library with a person, or stop sharing it
  family decline EMAIL     decline a library shared with me: its videos leave
                           this library at the next sync
  family unblock EMAIL     accept shares from a declined person again

Options:
  --profile DIR   keep every file (library, settings, credentials) under DIR
                  (default: CLIPVANE_PROFILE, else the standard folders)
  --api URL       the service's API address (default: the "apiBase" setting,
                  CLIPVANE_API_BASE, else http://127.0.0.1:8470/api)
  -h, --help      show this help
  --version       print the version

Edits are saved at once and sent by the next sync. Only one process changes the
library at a time: a command that changes it waits up to 5 seconds (or
CLIPVANE_LOCK_WAIT_MS milliseconds) for another to finish; while the
application runs, add links with "share". Texts are printed with control and
invisible formatting characters shown as escapes (\x1b, \u202e); --json prints
them exactly.

Exit status:
  0  success
  1  failure (the service refused or could not be reached, an unknown video, ...)
  2  usage error
  3  the library is in use by another Clipvane process
  4  the library cannot be written (no permission, or a read-only disk)
  5  the library could not be saved (for example, the disk is full)
)"_qs;
}

} // namespace clipvane
