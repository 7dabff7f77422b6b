#pragma once

#include <QJsonValue>
#include <QString>

namespace clipvane {

// Tolerant readers for values of the service's replies: the service is lenient about
// numbers and flags, so a string "42" or a float 4.5 still reads as a whole number.
namespace JsonRead {

qint64 toInt64(const QJsonValue &value); // whole number, decimal string, float truncated; else 0
int toInt(const QJsonValue &value);      // same order, native width; else 0
bool flag(const QJsonValue &value);      // toInt(value) == 1 (true and "1" count, 2 and "yes" do not)
QString text(const QJsonValue &value, const QString &fallback = {});

} // namespace JsonRead

} // namespace clipvane
