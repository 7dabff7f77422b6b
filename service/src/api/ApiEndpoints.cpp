#include "api/ApiEndpoints.h"

#include "LinkParser.h"
#include "VideoLimits.h"
#include "api/AccountExportJson.h"
#include "api/ApiError.h"
#include "api/EmailAddress.h"
#include "api/FeedRowJson.h"
#include "api/JsonText.h"
#include "api/RequestJson.h"
#include "domain/VideoLink.h"

#include <QJsonArray>

namespace clipvane::service {

namespace {

constexpr qint64 kDefaultPageLimit = 600;
constexpr qint64 kMaxPageLimit = 1000;
constexpr size_t kRowBytesGuess = 320;
constexpr qsizetype kMaxTitle = clipvane::kMaxVideoTitleLength;
constexpr qsizetype kMaxUrl = clipvane::kMaxVideoUrlLength;
constexpr qsizetype kMaxDetail = clipvane::kMaxVideoDetailLength;
constexpr qsizetype kMaxEmail = 320;
constexpr qsizetype kMaxAction = 32;
constexpr qsizetype kMaxQuestion = 4000;
constexpr qsizetype kMaxHistoryText = 20000;
constexpr qsizetype kMaxHistoryEntries = 50;
constexpr qsizetype kHistoryUsed = 10;
constexpr auto kApiSource = u"app";

using RequestJson::optionalFlag;
using RequestJson::optionalText;
using RequestJson::requiredText;

const std::string *queryValue(const ServerRequest &request, const char *name)
{
    return request.param(name);
}

QString videoId(const QJsonObject &body)
{
    const QString id = requiredText(body, u"youtube_id"_qs, clipvane::kMaxVideoIDLength);
    if (id.isEmpty())
        throw ApiError(400, "\"youtube_id\" is empty");
    if (!clipvane::isVideoID(id))
        throw ApiError(400, "\"youtube_id\" holds characters no video ID has");
    return id;
}

// The declined owners go along only when asked for (the reply of the older actions stays as
// it was).
QJsonObject familyJson(const FamilyLists &lists, bool withDeclined)
{
    QJsonObject json{{u"members"_qs, QJsonArray::fromStringList(lists.members)},
                     {u"shared_with_me"_qs, QJsonArray::fromStringList(lists.sharedWithMe)}};
    if (withDeclined)
        json.insert(u"declined"_qs, QJsonArray::fromStringList(lists.declined));
    return json;
}

const QJsonObject kOk{{u"ok"_qs, true}};

} // namespace

ApiEndpoints::ApiEndpoints(Accounts &accounts, Library &library, const Assistant &assistant, TelegramBot &telegram,
                           bool telegramConfigured, qint64 telegramCodeLifetimeMs)
    : m_accounts(accounts)
    , m_library(library)
    , m_assistant(assistant)
    , m_telegram(telegram)
    , m_telegramConfigured(telegramConfigured)
    , m_telegramCodeLifetimeMs(telegramCodeLifetimeMs)
{}

std::string ApiEndpoints::videos(const Account &user, const ServerRequest &request)
{
    const qint64 since = RequestJson::queryNumber(queryValue(request, "since"), "since", 0);
    const qint64 afterId = RequestJson::queryNumber(queryValue(request, "after_id"), "after_id", 0);
    const qint64 limit = RequestJson::queryNumber(queryValue(request, "limit"), "limit", kDefaultPageLimit);
    // A larger page is refused rather than cut short: a short page means "the last one".
    if (limit < 1 || limit > kMaxPageLimit)
        throw ApiError(400, "\"limit\" must be between 1 and " + std::to_string(kMaxPageLimit));
    // Written straight from SQLite's UTF-8: the pull is the one reply that must be fast.
    std::string out;
    out.reserve(size_t(limit) * kRowBytesGuess);
    JsonText json(out);
    json.beginObject().key("videos").beginArray();
    const FeedPage page = m_library.page(user, since, afterId, int(limit),
                                         [&](const FeedRowView &row) { FeedRowJson::write(json, row); });
    json.endArray();
    json.key("now").number(page.now);
    json.key("family_rev").string(std::to_string(page.familyRevision));
    json.key("total").number(page.total);
    json.key("widget").boolean(true);
    json.endObject();
    return out;
}

std::string ApiEndpoints::upsert(const Account &user, const ServerRequest &request)
{
    const QJsonObject body = RequestJson::object(request.body);
    if (body.contains(u"youtube_id"_qs))
        return patch(user, body);
    if (body.contains(u"url"_qs))
        return add(user, body);
    throw ApiError(400, "\"url\" (to add) or \"youtube_id\" (to change) is required");
}

std::string ApiEndpoints::add(const Account &user, const QJsonObject &body)
{
    const QString url = requiredText(body, u"url"_qs, kMaxUrl);
    const QString title = optionalText(body, u"title"_qs, kMaxTitle).value_or(QString());
    const auto link = VideoLink::fromText(url);
    if (!link && clipvane::youtubeID(url))
        throw ApiError(400, "the video ID in \"url\" is longer than " + std::to_string(clipvane::kMaxVideoIDLength) +
                                " characters");
    if (!link)
        throw ApiError(400, "\"url\" is neither a YouTube link nor an http(s) link");
    return FeedRowJson::videoReply(m_library.add(user, *link, title, QString::fromUtf16(kApiSource)));
}

std::string ApiEndpoints::patch(const Account &user, const QJsonObject &body)
{
    VideoPatch patch;
    patch.youtubeId = videoId(body);
    patch.excluded = optionalFlag(body, u"excluded"_qs);
    patch.title = optionalText(body, u"title"_qs, kMaxTitle);
    patch.uploadDate = optionalText(body, u"upload_date"_qs, kMaxDetail);
    patch.duration = optionalText(body, u"duration"_qs, kMaxDetail);
    patch.watched = optionalFlag(body, u"watched"_qs);
    patch.position = RequestJson::optionalCount(body, u"position"_qs, clipvane::kMaxVideoPosition);
    return FeedRowJson::videoReply(m_library.patch(user, patch));
}

QJsonObject ApiEndpoints::remove(const Account &user, const ServerRequest &request)
{
    m_library.remove(user, videoId(RequestJson::object(request.body)));
    return kOk;
}

QJsonObject ApiEndpoints::family(const Account &user, const ServerRequest &request)
{
    // "add" and "remove" change whom the user shares with; "decline" and "unblock" whose
    // shares the user accepts.
    static const QStringList kActions{u"add"_qs, u"remove"_qs, u"decline"_qs, u"unblock"_qs};
    bool withDeclined = false;
    if (request.method == "POST") {
        const QJsonObject body = RequestJson::object(request.body);
        const QString action = requiredText(body, u"action"_qs, kMaxAction);
        if (!kActions.contains(action))
            throw ApiError(400, "\"action\" must be \"add\", \"remove\", \"decline\" or \"unblock\"");
        const auto email = normaliseEmail(requiredText(body, u"email"_qs, kMaxEmail));
        if (!email)
            throw ApiError(400, "\"email\" is not an e-mail address");
        if (action == u"add"_qs)
            m_accounts.addMember(user, *email);
        else if (action == u"remove"_qs)
            m_accounts.removeMember(user, *email);
        else if (action == u"decline"_qs)
            m_accounts.declineShare(user, *email);
        else
            m_accounts.liftBlock(user, *email);
        withDeclined = action == u"decline"_qs || action == u"unblock"_qs;
    } else {
        const std::string *include = queryValue(request, "include");
        withDeclined = include && *include == "declined";
    }
    return familyJson(m_accounts.family(user), withDeclined);
}

QJsonObject ApiEndpoints::account(const Account &user, const ServerRequest &request)
{
    if (request.method == "GET") {
        const std::string *action = queryValue(request, "action");
        if (!action || *action != "export")
            throw ApiError(400, "\"action\" must be \"export\"");
        return AccountExportJson::toJson(m_accounts.exportAccount(user));
    }
    const QJsonObject body = RequestJson::object(request.body);
    if (requiredText(body, u"action"_qs, kMaxAction) != u"delete"_qs)
        throw ApiError(400, "\"action\" must be \"delete\"");
    m_accounts.deleteAccount(user);
    return kOk;
}

QJsonObject ApiEndpoints::assistant(const Account &user, const ServerRequest &request)
{
    const QJsonObject body = RequestJson::object(request.body);
    const QString question = requiredText(body, u"q"_qs, kMaxQuestion).trimmed();
    if (question.isEmpty())
        throw ApiError(400, "\"q\" is empty");
    QList<AssistantTurn> history;
    if (const auto it = body.constFind(u"history"_qs); it != body.constEnd() && !it->isNull()) {
        if (!it->isArray())
            throw ApiError(400, "\"history\" must be an array");
        const QJsonArray entries = it->toArray();
        if (entries.size() > kMaxHistoryEntries)
            throw ApiError(400, "\"history\" is too long");
        for (const QJsonValue &entry : entries) {
            if (!entry.isObject())
                throw ApiError(400, "each \"history\" entry must be an object with \"q\" and \"a\"");
            const QJsonObject turn = entry.toObject();
            history.append(AssistantTurn{requiredText(turn, u"q"_qs, kMaxHistoryText),
                                         requiredText(turn, u"a"_qs, kMaxHistoryText)});
        }
        if (history.size() > kHistoryUsed)
            history = history.mid(history.size() - kHistoryUsed);
    }
    QList<LibraryVideo> library;
    for (const FeedRow &row : m_library.visibleVideos(user))
        library.append(LibraryVideo{row.id, row.youtubeId, row.title, row.url, row.uploadDate, row.duration,
                                    row.ownerEmail, row.createdAt});
    const AssistantReply reply = m_assistant.answer(question, history, library, m_library.wallNow());
    QJsonArray videos;
    for (const LibraryVideo &video : reply.videos) {
        QJsonObject item{{u"title"_qs, video.title},
                         {u"url"_qs, video.url},
                         {u"youtube_id"_qs, video.youtubeID},
                         {u"duration"_qs, video.duration}};
        bool ok = false;
        const int year = video.uploadDate.left(4).toInt(&ok);
        if (ok && year > 0)
            item.insert(u"year"_qs, year);
        videos.append(item);
    }
    return QJsonObject{{u"answer"_qs, reply.answer}, {u"videos"_qs, videos}};
}

QJsonObject ApiEndpoints::telegramCode(const Account &user, const ServerRequest &request)
{
    RequestJson::object(request.body);
    if (!m_telegramConfigured)
        throw ApiError(503, "this service has no Telegram bot configured");
    const qint64 expiresAt = m_library.wallNow() + m_telegramCodeLifetimeMs;
    const QString code = m_accounts.createTelegramCode(user, expiresAt);
    return QJsonObject{{u"link"_qs, m_telegram.deepLink(code)}, {u"expires_at"_qs, expiresAt}};
}

} // namespace clipvane::service
