#include "RowText.h"

#include "TitleSearch.h"
#include "Video.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>
#include <string_view>
#include <vector>

namespace clipvane::RowText {

namespace {

// Offsets (UTF-16) of every grapheme-cluster boundary of text, both ends included.
std::vector<qsizetype> boundariesOf(const QString &text)
{
    std::vector<qsizetype> boundaries{0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        boundaries.push_back(at);
    if (boundaries.back() != text.size())
        boundaries.push_back(text.size());
    return boundaries;
}

// The index of the boundary at offset, or -1 when offset is inside a character.
qsizetype clusterAt(const std::vector<qsizetype> &boundaries, qsizetype offset)
{
    const auto found = std::lower_bound(boundaries.begin(), boundaries.end(), offset);
    return found != boundaries.end() && *found == offset ? qsizetype(found - boundaries.begin()) : -1;
}

// The context is the one lupdate files these texts under: the namespace's full name.
QString tr(const char *text)
{
    return QCoreApplication::translate("clipvane::RowText", text);
}

} // namespace

QList<Range> highlightRanges(const QString &title, const QString &highlight)
{
    const TitleSearch search(highlight);
    if (search.isEmpty() || title.isEmpty())
        return {};
    const QString folded = TitleSearch::fold(title);
    const std::vector<qsizetype> foldedBounds = boundariesOf(folded);
    const std::vector<qsizetype> titleBounds = boundariesOf(title);
    const qsizetype titleClusters = qsizetype(titleBounds.size()) - 1;
    const std::u16string_view haystack(QStringView(folded).utf16(), size_t(folded.size()));

    QList<Range> ranges;
    for (const QString &word : search.words()) {
        const std::u16string_view needle(QStringView(word).utf16(), size_t(word.size()));
        size_t at = haystack.find(needle);
        while (at != std::u16string_view::npos) {
            const qsizetype first = clusterAt(foldedBounds, qsizetype(at));
            const qsizetype last = clusterAt(foldedBounds, qsizetype(at + needle.size()));
            if (first < 0 || last < 0) {
                // Part of a character: the search would not count it, neither does the mark.
                at = haystack.find(needle, at + 1);
                continue;
            }
            const qsizetype start = titleBounds[size_t(std::min(first, titleClusters))];
            const qsizetype end = titleBounds[size_t(std::min(last, titleClusters))];
            if (end > start)
                ranges.append({start, end - start});
            at = haystack.find(needle, at + needle.size());
        }
    }
    return ranges;
}

QString sourceSymbolName(const QString &source)
{
    if (source == u"telegram")
        return QStringLiteral("paperplane.fill");
    if (source == u"ios")
        return QStringLiteral("iphone");
    if (source == u"web")
        return QStringLiteral("globe");
    return QStringLiteral("tray.full");
}

QString factsText(const Video &video)
{
    if (video.duration.isEmpty())
        return video.uploadDate;
    return video.uploadDate + QStringLiteral(" · ") + video.duration;
}

QString accessibleText(const Video &video, bool isPlaying)
{
    QStringList parts{video.title};
    const QString facts = factsText(video);
    if (!facts.isEmpty())
        parts << facts;
    if (video.excluded)
        parts << tr("excluded");
    if (video.isPending())
        parts << tr("waiting to sync");
    if (isPlaying)
        parts << tr("playing");
    if (video.readOnly)
        parts << tr("shared by %1").arg(video.ownerEmail);
    return parts.join(u", ");
}

} // namespace clipvane::RowText
