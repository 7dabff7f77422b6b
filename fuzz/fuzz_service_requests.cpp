// The service's readers of request bodies and queries, fed what a client may send: the body
// as the HTTP layer takes it in (identity or gzip, in pieces, within a limit), its query and
// form items, and the JSON readers of the endpoints. Anything malformed must end in
// ApiError(400) (any other exception escapes and fails the run), and what they accept must
// keep the bounds storage relies on.
#include "api/ApiError.h"
#include "api/RequestJson.h"
#include "domain/VideoLink.h"
#include "http/RequestBody.h"
#include "http/ServerRequest.h"

#include <QJsonArray>
#include <cstddef>
#include <cstdint>
#include <string>

using namespace clipvane::service;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The fields the endpoints read, with the longest text each accepts.
struct Field
{
    const char16_t *key;
    qsizetype maxLength;
};
constexpr Field kFields[] = {{u"url", 4096},    {u"title", 1000}, {u"youtube_id", 256}, {u"upload_date", 64},
                             {u"duration", 64}, {u"action", 32},  {u"email", 320},      {u"q", 4000}};

void readText(const QJsonObject &object, const Field &field)
{
    try {
        const auto text = RequestJson::optionalText(object, QString::fromUtf16(field.key), field.maxLength);
        if (!text)
            return;
        require(text->size() <= field.maxLength);
        for (const QChar c : *text)
            require(c.category() != QChar::Other_Control || c == u'\n' || c == u'\t');
        if (QStringView(field.key) == u"url") {
            if (const auto link = VideoLink::fromText(*text)) {
                require(!link->youtubeId.isEmpty());
                require(!link->fallbackTitle().isEmpty());
            }
        }
    } catch (const ApiError &error) {
        require(error.status() == 400);
    }
}

void readBody(const std::string &body)
{
    QJsonObject object;
    try {
        object = RequestJson::object(body);
    } catch (const ApiError &error) {
        require(error.status() == 400);
        return;
    }
    for (const Field &field : kFields)
        readText(object, field);
    try {
        RequestJson::optionalFlag(object, QStringLiteral("excluded"));
    } catch (const ApiError &error) {
        require(error.status() == 400);
    }
    // The assistant's history: an array of objects each with "q" and "a".
    for (const QJsonValue &entry : object.value(u"history").toArray()) {
        const QJsonObject turn = entry.toObject();
        readText(turn, Field{u"q", 20000});
        readText(turn, Field{u"a", 20000});
    }
}

constexpr std::size_t kBodyLimit = 4096;

// The body as it arrives: the first byte picks the coding and the piece size.
void takeIn(std::string_view input)
{
    if (input.empty())
        return;
    const auto coding = (input[0] & 1) ? RequestBody::Coding::Gzip : RequestBody::Coding::Identity;
    const std::size_t piece = std::size_t(static_cast<unsigned char>(input[0]) >> 1) + 1;
    input.remove_prefix(1);
    RequestBody body(kBodyLimit, coding);
    for (std::size_t at = 0; at < input.size() && body.state() == RequestBody::State::Reading; at += piece)
        body.append(input.substr(at, piece));
    if (body.state() == RequestBody::State::Reading && body.finish() == RequestBody::State::Reading) {
        const std::string text = body.take();
        require(text.size() <= kBodyLimit);
        ServerRequest request;
        request.body = text;
        request.addHeader("Content-Type", "application/x-www-form-urlencoded");
        request.readForm();
        (void)request.paramValue("q");
        readBody(text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    takeIn(input);
    readBody(input);
    ServerRequest request;
    request.setQuery(input);
    (void)request.paramValue("since");
    try {
        RequestJson::queryNumber(&input, "limit", 0);
    } catch (const ApiError &error) {
        require(error.status() == 400);
    }
    return 0;
}
