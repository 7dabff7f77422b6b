#pragma once

#include "GroupSettings.h"

#include <QString>
#include <optional>

namespace clipvane {

class VideoStore;

// The libraries of accounts that are not signed in on this computer, kept beside the store:
// signing in as another person puts the library of the previous one aside (every record, the
// changes it had not sent yet among them, and its pull cursor), and brings back the one kept
// for the person signing in. Nothing waiting to be sent is lost by letting someone else sign in.
class KeptLibraries
{
public:
    // Keeps the libraries in a folder beside the store's file.
    explicit KeptLibraries(const QString &storePath);

    // Writes a copy of the store, with its pull state, as the library of account. False (and
    // error) when the copy could not be written whole: the store must then stay as it is.
    bool keep(VideoStore &store, const GroupSettings::PullState &pull, const QString &account, QString *error);

    // What was kept for account: the records go into store (which holds none of them) and the
    // kept copy is deleted once the store has saved them. The pull state to go on from, for the
    // store's own generation; nullopt when nothing was kept (or the copy cannot be read: it is
    // left in place and error says why).
    std::optional<GroupSettings::PullState> restore(VideoStore &store, const QString &account, QString *error);

    QString pathFor(const QString &account) const;

private:
    QString m_directory;
};

} // namespace clipvane
