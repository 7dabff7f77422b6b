#pragma once

#include <QString>
#include <optional>

class QIODevice;

namespace clipvane {

// The sign-in token, read from a file or from standard input rather than from the command line,
// where every user of the computer can see it in the process list. What is read must be the
// token alone: one line, with at most one line ending after it.
class TokenInput
{
public:
    // More than a token ever is: a larger input is a wrong file, not a token.
    static constexpr qint64 kMaxBytes = 16 * 1024;

    // The token, or none after setting error to why the input cannot be one.
    static std::optional<QString> fromFile(const QString &path, QString *error);
    static std::optional<QString> fromStandardInput(QString *error);
    // source names the input in messages; oneLine: read nothing after the first line end.
    static std::optional<QString> fromDevice(QIODevice &device, const QString &source, bool oneLine, QString *error);
};

} // namespace clipvane
