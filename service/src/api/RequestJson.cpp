#include "api/RequestJson.h"

#include "api/ApiError.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace clipvane::service::RequestJson {

namespace {

std::string fieldName(const QString &key)
{
    // Built by appending: GCC 12 at -O3 misreports "literal" + string + "literal" (-Wrestrict).
    std::string name(1, '"');
    name.append(key.toStdString());
    name.push_back('"');
    return name;
}

// Control characters other than line breaks and tabs are dropped: they can only come from
// a paste gone wrong, and refusing the edit would leave a client retrying it for ever.
QString withoutControlCharacters(QString text)
{
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control && c != u'\n' && c != u'\t'; });
    return text;
}

} // namespace

QJsonObject object(const std::string &body)
{
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(body.data(), qsizetype(body.size())), &error);
    if (error.error != QJsonParseError::NoError)
        throw ApiError(400, "malformed JSON body");
    if (!document.isObject())
        throw ApiError(400, "the body must be a JSON object");
    return document.object();
}

std::optional<QString> optionalText(const QJsonObject &object, const QString &key, qsizetype maxLength)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        return std::nullopt;
    if (!it->isString())
        throw ApiError(400, fieldName(key) + " must be a string");
    const QString text = it->toString();
    if (text.size() > maxLength)
        throw ApiError(400, fieldName(key) + " is longer than " + std::to_string(maxLength) + " characters");
    return withoutControlCharacters(text);
}

QString requiredText(const QJsonObject &object, const QString &key, qsizetype maxLength)
{
    auto text = optionalText(object, key, maxLength);
    if (!text)
        throw ApiError(400, fieldName(key) + " is required");
    return *text;
}

std::optional<bool> optionalFlag(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        return std::nullopt;
    if (it->isBool())
        return it->toBool();
    if (it->isDouble()) {
        const double value = it->toDouble();
        if (value == 0.0 || value == 1.0)
            return value == 1.0;
    }
    throw ApiError(400, fieldName(key) + " must be 0 or 1");
}

std::optional<qint64> optionalCount(const QJsonObject &object, const QString &key, qint64 max)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        return std::nullopt;
    // Compared as a double first, so a huge or fractional number never reaches the conversion.
    const double value = it->isDouble() ? it->toDouble() : -1.0;
    if (!it->isDouble() || value < 0.0 || value > double(max) || value != double(qint64(value)))
        throw ApiError(400, fieldName(key) + " must be a whole number from 0 to " + std::to_string(max));
    return qint64(value);
}

qint64 queryNumber(const std::string *text, const char *name, qint64 fallback)
{
    if (!text)
        return fallback;
    const std::string message = std::string("\"") + name + "\" must be a whole number";
    size_t start = 0;
    if (!text->empty() && ((*text)[0] == '-' || (*text)[0] == '+'))
        start = 1;
    if (text->size() == start || text->size() > start + 19)
        throw ApiError(400, message);
    for (size_t i = start; i < text->size(); ++i)
        if ((*text)[i] < '0' || (*text)[i] > '9')
            throw ApiError(400, message);
    bool ok = false;
    const qint64 value = QByteArray::fromStdString(*text).toLongLong(&ok);
    if (!ok)
        throw ApiError(400, message);
    return value;
}

} // namespace clipvane::service::RequestJson
