#pragma once

#include <QByteArray>
#include <QString>

namespace clipvane {

// Writes the account export to the file the user chose. The bytes go to a temporary file beside
// it that replaces the chosen one only once complete, so a failed or interrupted write leaves a
// file the user is replacing as it was.
class ExportWriter
{
public:
    // True when the whole file was written; otherwise error (when given) says why.
    static bool write(const QString &path, const QByteArray &bytes, QString *error = nullptr);
};

} // namespace clipvane
