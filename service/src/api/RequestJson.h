#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>
#include <string>

namespace clipvane::service::RequestJson {

// Strict readers for request bodies and queries: anything malformed throws ApiError(400)
// naming the field, so a client learns what it did wrong and nothing odd reaches storage.

// The body as a JSON object.
QJsonObject object(const std::string &body);

// A string field of at most maxLength UTF-16 units; none when absent.
std::optional<QString> optionalText(const QJsonObject &object, const QString &key, qsizetype maxLength);
QString requiredText(const QJsonObject &object, const QString &key, qsizetype maxLength);
// A flag: JSON true/false or the numbers 0 and 1; none when absent.
std::optional<bool> optionalFlag(const QJsonObject &object, const QString &key);
// A whole JSON number from 0 to max; none when absent.
std::optional<qint64> optionalCount(const QJsonObject &object, const QString &key, qint64 max);

// A decimal whole number of a query (optional sign, digits only, 64-bit); fallback when absent.
qint64 queryNumber(const std::string *text, const char *name, qint64 fallback);

} // namespace clipvane::service::RequestJson
