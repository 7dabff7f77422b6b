// clipvane-cli: the library from a terminal or a script. See CliArguments::usage().

#include "AppPaths.h"
#include "CliArguments.h"
#include "CliCommands.h"
#include "ClipvaneVersion.h"
#include "Translations.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    clipvane::AppPaths::initialiseApplicationNames();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(clipvane::kVersion));
    clipvane::Translations::install(application);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    auto parsed = clipvane::CliArguments::parse(arguments);
    if (const QString *error = std::get_if<QString>(&parsed)) {
        err << "clipvane-cli: " << *error << "\nRun \"clipvane-cli --help\" for the commands and options.\n";
        return clipvane::CliCommands::usageError;
    }
    if (std::get<clipvane::CliArguments>(parsed).version) {
        out << "clipvane-cli " << clipvane::kVersion << '\n';
        return 0;
    }
    int exitCode = 0;
    {
        clipvane::CliCommands commands(std::get<clipvane::CliArguments>(std::move(parsed)), out, err,
                                       ::isatty(STDERR_FILENO) == 1);
        exitCode = QCoro::waitFor(commands.run());
    }
    out.flush();
    err.flush();
    return exitCode;
}
