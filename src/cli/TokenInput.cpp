#include "TokenInput.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace clipvane {

std::optional<QString> TokenInput::fromFile(const QString &path, QString *error)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        *error = u"the token file “%1” cannot be read: %2"_qs.arg(path, QFileInfo(path).isDir() ? u"it is a folder"_qs
                                                                                                : file.errorString());
        return std::nullopt;
    }
    return fromDevice(file, u"the token file “%1”"_qs.arg(path), false, error);
}

std::optional<QString> TokenInput::fromStandardInput(QString *error)
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        *error = u"standard input cannot be read: %1"_qs.arg(input.errorString());
        return std::nullopt;
    }
    // A terminal ends the token with Return; a pipe or a file with its end.
    return fromDevice(input, u"standard input"_qs, ::isatty(STDIN_FILENO) == 1, error);
}

std::optional<QString> TokenInput::fromDevice(QIODevice &device, const QString &source, bool oneLine, QString *error)
{
    // Room for the longest token, its line ending and one byte more, which tells a larger input.
    QByteArray bytes = device.readLine(kMaxBytes + 3);
    const bool ended = bytes.endsWith('\n');
    // Only the line ending that editors and echo add goes; anything after it is not a token.
    if (ended)
        bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    // A terminal is not read past the line typed: it would wait for more.
    if (bytes.size() > kMaxBytes || (ended && !oneLine && !device.read(1).isEmpty())) {
        *error = u"%1 holds more than a token (one line of at most %2 bytes)"_qs.arg(source).arg(kMaxBytes);
        return std::nullopt;
    }
    const QString token = QString::fromUtf8(bytes);
    if (token.isEmpty()) {
        *error = u"%1 holds no token"_qs.arg(source);
        return std::nullopt;
    }
    for (const QChar c : token) {
        if (c.category() == QChar::Other_Control || c.isSpace()) {
            *error = u"%1 holds more than a token (spaces or control characters)"_qs.arg(source);
            return std::nullopt;
        }
    }
    return token;
}

} // namespace clipvane
