#include "GoogleAuth.h"

#include "BrowserLauncher.h"

#include <QCoroSignal>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace clipvane {

namespace {

constexpr int kStateBytes = 24;

QString newState()
{
    QByteArray bytes(kStateBytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QCoro::Task<bool> openWith(GoogleAuth::Opener opener, QUrl url)
{
    co_return opener(url);
}

} // namespace

GoogleAuth::GoogleAuth(QUrl origin, Opener opener, QObject *parent)
    : QObject(parent)
    , m_origin(std::move(origin))
{
    if (opener)
        m_opener = [opener = std::move(opener)](QUrl url) { return openWith(opener, std::move(url)); };
    else
        m_opener = [](QUrl url) { return BrowserLauncher::open(std::move(url)); };
}

GoogleAuth::~GoogleAuth()
{
    finish({});
}

QUrl GoogleAuth::signInAddress(const QString &state) const
{
    QUrl address = m_origin;
    address.setPath(kSignInPath);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("state"), state);
    address.setQuery(query);
    return address;
}

QCoro::Task<GoogleAuth::Result> GoogleAuth::signIn()
{
    finish({}); // a waiting sign-in is replaced, silently
    const quint64 attempt = ++m_attempt;
    const QString state = newState();
    // The attempt waits from before its browser opens: the page may answer before the opener.
    m_pendingState = state;
    m_outcome.reset();

    const QPointer<GoogleAuth> self(this);
    const bool opened = co_await m_opener(signInAddress(state));
    if (!self || attempt != m_attempt)
        co_return Result{};
    if (!opened)
        finish({Result::Outcome::browserUnavailable, {}, {}});
    if (m_outcome)
        co_return *m_outcome;
    while (true) {
        const auto [finished, result] = co_await qCoro(this, &GoogleAuth::attemptFinished);
        if (!self)
            co_return Result{};
        if (finished == attempt)
            co_return result;
    }
}

void GoogleAuth::finish(Result result)
{
    if (m_pendingState.isEmpty())
        return;
    m_pendingState.clear();
    m_outcome = result;
    Q_EMIT attemptFinished(m_attempt, result);
}

bool GoogleAuth::handleCallback(const QUrl &callback)
{
    if (m_pendingState.isEmpty() || queryValue(callback, QStringLiteral("state")) != m_pendingState)
        return false;
    const auto credentials = parseCallback(callback);
    if (!credentials)
        finish({Result::Outcome::badResponse, {}, {}});
    else
        finish({Result::Outcome::signedIn, credentials->first, credentials->second});
    return true;
}

std::optional<QString> GoogleAuth::queryValue(const QUrl &url, const QString &name)
{
    if (!url.hasQuery())
        return std::nullopt;
    // Items are split by hand: QUrlQuery folds "name" (no value) and "name=" (empty value).
    const QStringList items = url.query(QUrl::FullyEncoded).split(u'&');
    for (const QString &item : items) {
        const qsizetype equals = item.indexOf(u'=');
        const QString key = QUrl::fromPercentEncoding((equals < 0 ? item : item.left(equals)).toUtf8());
        if (key != name)
            continue;
        if (equals < 0)
            return std::nullopt;
        // A plus stays a plus, as in "me+videos@example.com".
        return QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
    }
    return std::nullopt;
}

std::optional<std::pair<QString, QString>> GoogleAuth::parseCallback(const QUrl &callback)
{
    if (!callback.isValid())
        return std::nullopt;
    const std::optional<QString> token = queryValue(callback, QStringLiteral("token"));
    const std::optional<QString> email = queryValue(callback, QStringLiteral("email"));
    if (!token || !email)
        return std::nullopt;
    return std::pair{*token, *email};
}

} // namespace clipvane
