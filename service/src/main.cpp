// clipvane-service: the companion service of Clipvane.
//   clipvane-service serve [--listen HOST:PORT] [--data DIR] [--public-origin URL]
//   clipvane-service token EMAIL [--data DIR]

#include "Service.h"
#include "api/EmailAddress.h"
#include "outbound/MetadataProvider.h"

#include <QString>
#include <QStringList>

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
               "  clipvane-service serve [--listen HOST:PORT] [--data DIR] [--public-origin URL]\n"
               "  clipvane-service token EMAIL [--data DIR]\n",
               stderr);
}

struct Arguments
{
    QString command;
    QStringList positional;
    QString listen = u"127.0.0.1:"_qs + QString::number(kDefaultListenPort);
    QString dataDir;
    QString publicOrigin;
};

std::optional<Arguments> parse(int argc, char **argv)
{
    Arguments arguments;
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
        else if (argument == u"--public-origin"_qs)
            ok = value(arguments.publicOrigin);
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
    ServiceConfig config;
    config.readEnvironment();
    config.dataDir = arguments.dataDir.isEmpty() ? ServiceConfig::defaultDataDir() : arguments.dataDir;
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
    std::fprintf(stderr, "clipvane-service: data in %s\n", qPrintable(config.dataDir));
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
    Storage storage(arguments.dataDir.isEmpty() ? ServiceConfig::defaultDataDir() : arguments.dataDir);
    Accounts accounts(storage);
    std::printf("%s\n", qPrintable(accounts.issueToken(*email)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const auto arguments = parse(argc, argv);
    if (!arguments || arguments->command.isEmpty()) {
        printUsage();
        return kUsageError;
    }
    try {
        if (arguments->command == u"serve"_qs)
            return serve(*arguments);
        if (arguments->command == u"token"_qs)
            return token(*arguments);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "clipvane-service: %s\n", error.what());
        return 1;
    }
    printUsage();
    return kUsageError;
}
