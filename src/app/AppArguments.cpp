#include "AppArguments.h"

#include "APIClient.h"

#include <QFileInfo>

namespace clipvane {

std::variant<AppArguments, QString> AppArguments::parse(const QStringList &arguments)
{
    AppArguments parsed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const auto value = [&](const QString &option) -> std::optional<QString> {
            if (argument.startsWith(option + u'='))
                return argument.mid(option.size() + 1);
            if (argument == option && i + 1 < arguments.size())
                return arguments.at(++i);
            return std::nullopt;
        };
        if (argument == u"--help" || argument == u"-h") {
            parsed.help = true;
        } else if (argument == u"--version") {
            parsed.version = true;
        } else if (argument == u"--") {
            parsed.links += arguments.mid(i + 1);
            break;
        } else if (argument.startsWith(u"--profile")) {
            const std::optional<QString> directory = value(QStringLiteral("--profile"));
            if (!directory || directory->isEmpty())
                return QStringLiteral("--profile needs a folder");
            parsed.profile = QFileInfo(*directory).absoluteFilePath();
        } else if (argument.startsWith(u"--api")) {
            const std::optional<QString> address = value(QStringLiteral("--api"));
            if (!address)
                return QStringLiteral("--api needs the service's address");
            const std::optional<QUrl> base = APIClient::acceptableBase(*address);
            if (!base)
                return QStringLiteral("“%1” is not a usable service address (https, or http on this machine only)")
                    .arg(*address);
            parsed.apiBase = *base;
        } else if (argument.startsWith(u"--")) {
            return QStringLiteral("unknown option %1").arg(argument);
        } else {
            parsed.links.append(argument);
        }
    }
    return parsed;
}

QString AppArguments::usage()
{
    return QStringLiteral("Usage: clipvane [--profile DIR] [--api URL] [LINK...]\n"
                          "Starts Clipvane, or hands the links to the Clipvane already running.\n"
                          "  LINK           a YouTube link to add, or a clipvaneshelf: sign-in callback\n"
                          "  --profile DIR  keep every file of the application in DIR (also CLIPVANE_PROFILE)\n"
                          "  --api URL      the service's API address (also CLIPVANE_API_BASE)\n"
                          "  --version      print the version and end\n");
}

} // namespace clipvane
