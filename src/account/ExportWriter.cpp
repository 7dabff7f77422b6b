#include "ExportWriter.h"

#include <QSaveFile>

namespace clipvane {

bool ExportWriter::write(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    // Some folders (a shared one, a mount) refuse the temporary file; a plain write there would
    // lose the atomic replacement, so it is refused too.
    file.setDirectWriteFallback(false);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok)
        ok = file.write(bytes) == bytes.size();
    if (ok)
        ok = file.commit();
    else
        file.cancelWriting();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace clipvane
