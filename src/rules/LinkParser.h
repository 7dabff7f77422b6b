#pragma once

#include "VideoLimits.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace clipvane {

// Host names the link parser and the address builders share.
namespace Hosts {
inline constexpr char16_t youtubeMain[] = u"youtube.com";
inline constexpr char16_t youtubeShort[] = u"youtu.be";
inline constexpr char16_t thumbnails[] = u"i.ytimg.com";
} // namespace Hosts

// The YouTube video ID named by a text that holds a YouTube link anywhere in it, or none.
// Pure and case-sensitive; the ID is returned exactly as written (no normalisation).
std::optional<QString> youtubeID(QStringView from);

// The pieces of a text, split at white space, that each hold a YouTube link, in order: a text
// with several links yields each. Empty when none does.
QStringList linkTexts(QStringView text);

// True when the whole text is one ID as youtubeID() extracts it: at least six of its ID
// characters and nothing else. Text that reaches a script or an address as an ID must pass this.
bool isYouTubeIDText(QStringView text);

// Whether a text can serve as a video ID: 1 to kMaxVideoIDLength characters, each one that
// the ID run of a link may hold. A link whose ID fails this is not added.
bool isVideoID(QStringView id);

// The HTTPS short link for an ID, as stored for a locally added video.
QString shortLink(const QString &youtubeID);

} // namespace clipvane
