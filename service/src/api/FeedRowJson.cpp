#include "api/FeedRowJson.h"

namespace clipvane::service::FeedRowJson {

namespace {

class Utf8
{
public:
    explicit Utf8(std::string_view text)
        : m_view(text)
    {}
    explicit Utf8(const QString &text)
        : m_bytes(text.toUtf8())
        , m_view(m_bytes.constData(), size_t(m_bytes.size()))
    {}
    std::string_view view() const { return m_view; }

private:
    QByteArray m_bytes;
    std::string_view m_view;
};

template<typename Text> void writeRow(JsonText &json, const BasicFeedRow<Text> &row)
{
    json.beginObject()
        .key("created_at")
        .number(row.createdAt)
        .key("deleted")
        .number(row.deleted ? 1 : 0)
        .key("duration")
        .string(Utf8(row.duration).view())
        .key("excluded")
        .number(row.excluded ? 1 : 0)
        .key("id")
        .number(row.id)
        .key("owner_email")
        .string(Utf8(row.ownerEmail).view())
        .key("position")
        .number(row.position)
        .key("read_only")
        .number(row.readOnly ? 1 : 0)
        .key("source")
        .string(Utf8(row.source).view())
        .key("title")
        .string(Utf8(row.title).view())
        .key("updated_at")
        .number(row.updatedAt)
        .key("upload_date")
        .string(Utf8(row.uploadDate).view())
        .key("url")
        .string(Utf8(row.url).view())
        .key("watched")
        .number(row.watched ? 1 : 0)
        .key("youtube_id")
        .string(Utf8(row.youtubeId).view())
        .endObject();
}

} // namespace

void write(JsonText &json, const FeedRow &row)
{
    writeRow(json, row);
}

void write(JsonText &json, const FeedRowView &row)
{
    writeRow(json, row);
}

std::string videoReply(const FeedRow &row)
{
    std::string out;
    JsonText json(out);
    json.beginObject().key("video");
    write(json, row);
    json.endObject();
    return out;
}

} // namespace clipvane::service::FeedRowJson
