#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

namespace clipvane {

// One push of a change to a video the service holds: the fields present are written, the
// absent ones stay as the service has them (another device may have changed them since).
struct VideoChange
{
    QString youtubeID;
    // The details travel together, as the edit sheet changes them.
    std::optional<QString> title;
    std::optional<QString> uploadDate;
    std::optional<QString> duration;
    std::optional<bool> excluded;
    std::optional<bool> watched;
    std::optional<int> position; // whole seconds

    // The request body of upsert.php: "youtube_id" and the fields present.
    QJsonObject toJson() const;

    bool operator==(const VideoChange &) const = default;
};

} // namespace clipvane
