// clipvane-service: the companion service of Clipvane.
//   clipvane-service serve [--listen HOST:PORT] [--data DIR | --database URL] [--public-origin URL]
//   clipvane-service token EMAIL [--data DIR | --database URL]
//   clipvane-service migrate --from URL --to URL
//   clipvane-service --version

#include "ClipvaneVersion.h"
#include "Service.h"
#include "api/EmailAddress.h"
#include "db/DatabaseCopy.h"
#include "domain/Accounts.h"
#include "outbound/MetadataProvider.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <optional>

using namespace clipvane::service;

namespace {

constexpr int kMaxPort = 65535;
constexpr int kUsageError = 2;

void printUsage()
{
    std::fputs("usage:\n"
               "  clipvane-service serve [--listen HOST:PORT] [--data DIR | --database URL] [--public-origin URL]\n"
               "  clipvane-service token EMAIL [--data DIR | --database URL]\n"
               "  clipvane-service migrate --from URL --to URL\n"
               "  clipvane-service --version\n"
               "Unless given, --listen, --data, --database and --public-origin come from\n"
               "CLIPVANE_LISTEN, CLIPVANE_DATA, CLIPVANE_DATABASE and CLIPVANE_PUBLIC_ORIGIN.\n"
               "A database URL is sqlite:PATH or postgresql://USER@HOST/NAME; the default is\n"
               "the SQLite file in the data folder.\n",
               stderr);
}

struct Arguments
{
    QString command;
    QStringList positional;
    QString listen = u"127.0.0.1:"_qs + QString::number(kDefaultListenPort);
    QString dataDir;
    QString database;
    QString from;
    QString to;
    QString publicOrigin;

    ServiceConfig config() const
    {
        ServiceConfig config;
        config.dataDir = dataDir.isEmpty() ? ServiceConfig::defaultDataDir() : dataDir;
        config.database = database;
        return config;
    }
};

QString fromEnvironment(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? fallback : value;
}

std::optional<Arguments> parse(int argc, char **argv)
{
    Arguments arguments;
    // A service run by systemd takes its settings from an environment file; options still win.
    arguments.listen = fromEnvironment("CLIPVANE_LISTEN", arguments.listen);
    arguments.dataDir = fromEnvironment("CLIPVANE_DATA", arguments.dataDir);
    arguments.database = fromEnvironment("CLIPVANE_DATABASE", arguments.database);
    arguments.publicOrigin = fromEnvironment("CLIPVANE_PUBLIC_ORIGIN", arguments.publicOrigin);
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        auto value = [&](QString &target) {
            if (i + 1 >= argc)
                return false;
            target = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        bool ok = true;
        if (argument == u"--listen"_qs)
            ok = value(arguments.listen);
        else if (argument == u"--data"_qs)
            ok = value(arguments.dataDir);
        else if (argument == u"--database"_qs)
            ok = value(arguments.database);
        else if (argument == u"--from"_qs)
            ok = value(arguments.from);
        else if (argument == u"--to"_qs)
            ok = value(arguments.to);
        else if (argument == u"--public-origin"_qs)
            ok = value(arguments.publicOrigin);
        else if (argument == u"--version"_qs)
            arguments.command = argument;
        else if (argument.startsWith(u"--"_qs))
            ok = false;
        else if (arguments.command.isEmpty())
            arguments.command = argument;
        else
            arguments.positional.append(argument);
        if (!ok)
            return std::nullopt;
    }
    return arguments;
}

// A database address without its password, for the log.
QString redacted(const QString &database)
{
    QUrl url(database);
    if (!url.isValid() || url.password().isEmpty())
        return database;
    url.setPassword(u"…"_qs);
    return url.toString();
}

// "HOST:PORT" or "[IPv6]:PORT".
bool splitListen(const QString &listen, QString &host, int &port)
{
    const qsizetype colon = listen.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    host = listen.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    port = listen.mid(colon + 1).toInt(&ok);
    return ok && !host.isEmpty() && port >= 0 && port <= kMaxPort;
}

int serve(const Arguments &arguments)
{
    ServiceConfig config = arguments.config();
    config.readEnvironment();
    config.publicOrigin = arguments.publicOrigin;
    if (!splitListen(arguments.listen, config.listenHost, config.listenPort)) {
        std::fprintf(stderr, "clipvane-service: --listen wants HOST:PORT, not %s\n", qPrintable(arguments.listen));
        return kUsageError;
    }

    // Signals are taken by sigwait below, never by an arbitrary thread mid-request.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Connections cost a descriptor each and no thread: allow as many as the system lets us.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    Service service(config, makeMetadataProvider(config.metadata));
    service.start();
    if (config.database.isEmpty())
        std::fprintf(stderr, "clipvane-service: data in %s\n", qPrintable(config.dataDir));
    else
        std::fprintf(stderr, "clipvane-service: data in the database at %s\n", qPrintable(redacted(config.database)));
    std::fprintf(stderr, "clipvane-service: listening on %s\n", qPrintable(service.origin()));
    std::fflush(stderr);

    int received = 0;
    sigwait(&stopSignals, &received);
    std::fprintf(stderr, "clipvane-service: stopping (signal %d)\n", received);
    service.stop();
    std::fprintf(stderr, "clipvane-service: stopped\n");
    return 0;
}

int token(const Arguments &arguments)
{
    if (arguments.positional.size() != 1) {
        printUsage();
        return kUsageError;
    }
    const auto email = normaliseEmail(arguments.positional.first());
    if (!email) {
        std::fprintf(stderr, "clipvane-service: %s is not an e-mail address\n",
                     qPrintable(arguments.positional.first()));
        return kUsageError;
    }
    const auto storage = Storage::open(arguments.config().databaseUrl());
    Accounts accounts(*storage);
    std::printf("%s\n", qPrintable(accounts.issueToken(*email)));
    return 0;
}

int migrate(const Arguments &arguments)
{
    if (!arguments.positional.isEmpty() || arguments.from.isEmpty() || arguments.to.isEmpty()) {
        printUsage();
        return kUsageError;
    }
    const auto from = Storage::open(arguments.from);
    const auto to = Storage::open(arguments.to);
    const qint64 rows = DatabaseCopy::run(*from, *to);
    std::fprintf(stderr, "clipvane-service: copied %lld rows from %s to %s\n", static_cast<long long>(rows),
                 qPrintable(redacted(arguments.from)), qPrintable(redacted(arguments.to)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationVersion(QString::fromLatin1(clipvane::kVersion));
    const auto arguments = parse(argc, argv);
    if (!arguments || arguments->command.isEmpty()) {
        printUsage();
        return kUsageError;
    }
    if (arguments->command == u"--version"_qs) {
        std::printf("clipvane-service %s\n", clipvane::kVersion);
        return 0;
    }
    try {
        if (arguments->command == u"serve"_qs)
            return serve(*arguments);
        if (arguments->command == u"token"_qs)
            return token(*arguments);
        if (arguments->command == u"migrate"_qs)
            return migrate(*arguments);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "clipvane-service: %s\n", error.what());
        return 1;
    }
    printUsage();
    return kUsageError;
}
